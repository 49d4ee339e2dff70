#include "codec/jsonkeys.h"

#include <QtTest>

class TestJsonKeys : public QObject
{
    Q_OBJECT
private slots:
    void repeatedKey_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("repeated"); // null: none

        QTest::newRow("distinct keys")
            << QByteArray(R"({"a": 1, "b": {"a": 2}, "c": [{"a": 3}]})") << QString();
        QTest::newRow("same key in sibling objects")
            << QByteArray(R"([{"k": 1}, {"k": 2}])") << QString();
        QTest::newRow("values equal to keys")
            << QByteArray(R"({"a": "a", "b": ["a", "b"], "c": "b"})") << QString();
        QTest::newRow("at the top") << QByteArray(R"({"a": 1, "b": 2, "a": 3})") << "a";
        QTest::newRow("after a nested object")
            << QByteArray(R"({"a": {"x": 1, "y": [1, {"z": 2}]}, "a": 2})") << "a";
        QTest::newRow("in an object inside a list")
            << QByteArray(R"({"s": [{"n": 1}, {"n": 2, "m": 3, "n": 4}]})") << "n";
        QTest::newRow("spelt with an escape") << QByteArray(R"({"a": 1, "\u0061": 2})") << "a";
        QTest::newRow("quote and brace inside a key")
            << QByteArray("{\"q\\\"{\": 1, \"q\\\"{\": 2}") << "q\"{";
        QTest::newRow("Cyrillic key") << QByteArray(R"({"имя": 1, "имя": 2})") << "имя";
        QTest::newRow("cut inside an escape") << QByteArray("{\"a\": 1, \"a\\") << QString();
        QTest::newRow("cut short") << QByteArray(R"({"a": 1, "b": {"a")") << QString();
    }

    void repeatedKey()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, repeated);
        const std::optional<QString> found = jsonkeys::repeatedKey(json);
        QCOMPARE(found.has_value(), !repeated.isNull());
        if (found)
            QCOMPARE(*found, repeated);
    }
};

QTEST_APPLESS_MAIN(TestJsonKeys)
#include "tst_jsonkeys.moc"
