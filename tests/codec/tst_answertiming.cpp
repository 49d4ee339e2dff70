// When the worker takes an answer as over: at once when complete, after the long silence
// otherwise, and the no-answer limit; and the quiet interval the line keeps before a request.
#include "codec/answertiming.h"

#include <QtTest>

using answertiming::Verdict;

Q_DECLARE_METATYPE(answertiming::Verdict)

namespace {

// An answer of n bytes to a request of function 0x03 (the contents are not judged here).
QByteArray bytes(int n)
{
    QByteArray answer(n, '\x11');
    if (n > 0)
        answer[0] = 0x01;
    if (n > 1)
        answer[1] = 0x03;
    return answer;
}

} // namespace

class TestAnswerTiming : public QObject
{
    Q_OBJECT

private slots:
    void guard_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("us");
        // 3.5 characters of 10 bits (8N1), rounded up.
        QTest::newRow("1200") << 1200 << qint64(29167);
        QTest::newRow("9600") << 9600 << qint64(3646);
        QTest::newRow("19200") << 19200 << qint64(1823);
        QTest::newRow("38400 is held at the minimum") << 38400 << qint64(1750);
        QTest::newRow("115200 is held at the minimum") << 115200 << qint64(1750);
        QTest::newRow("no rate") << 0 << qint64(1750);
    }

    void guard()
    {
        QFETCH(int, baud);
        QFETCH(qint64, us);
        QCOMPARE(answertiming::guardUs(baud), us);
    }

    // The interval counts from the last byte on the line, sent or received; after an answer
    // that did not frame, the long silence.
    void beforeRequest_data()
    {
        QTest::addColumn<qint64>("quietUs");
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("misframed");
        QTest::addColumn<qint64>("waitUs");
        QTest::newRow("right after the last byte, 9600")
            << qint64(0) << 9600 << false << qint64(3646);
        QTest::newRow("part of the interval over, 9600")
            << qint64(1000) << 9600 << false << qint64(2646);
        QTest::newRow("interval just over, 9600") << qint64(3646) << 9600 << false << qint64(0);
        QTest::newRow("long quiet line, 115200") << qint64(400000) << 115200 << false << qint64(0);
        QTest::newRow("right after the last byte, 115200")
            << qint64(0) << 115200 << false << qint64(1750);
        QTest::newRow("misframed answer, 115200")
            << qint64(1750) << 115200 << true << qint64(18251);
        QTest::newRow("misframed answer, after the silence")
            << qint64(20001) << 115200 << true << qint64(0);
        QTest::newRow("misframed answer, 1200: the interval is longer")
            << qint64(0) << 1200 << true << qint64(29167);
    }

    void beforeRequest()
    {
        QFETCH(qint64, quietUs);
        QFETCH(int, baud);
        QFETCH(bool, misframed);
        QFETCH(qint64, waitUs);
        QCOMPARE(answertiming::beforeRequestUs(quietUs, baud, misframed), waitUs);
    }

    void judge_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("expectedSize");
        QTest::addColumn<qint64>("quietUs");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<qint64>("waitUs");

        QTest::newRow("nothing yet")
            << QByteArray() << 33 << qint64(0) << Verdict::Wait << qint64(400001);
        QTest::newRow("nothing at the limit")
            << QByteArray() << 33 << qint64(400000) << Verdict::Wait << qint64(1);
        QTest::newRow("nothing past the limit")
            << QByteArray() << 33 << qint64(400001) << Verdict::NoAnswer << qint64(0);

        QTest::newRow("complete is over at once")
            << bytes(33) << 33 << qint64(0) << Verdict::Done << qint64(0);
        QTest::newRow("exception answer is over at once")
            << QByteArray::fromHex("018302c0f1") << 45 << qint64(0) << Verdict::Done << qint64(0);

        QTest::newRow("short waits for the silence")
            << bytes(16) << 33 << qint64(5000) << Verdict::Wait << qint64(15001);
        QTest::newRow("short at 20 ms is not over")
            << bytes(16) << 33 << qint64(20000) << Verdict::Wait << qint64(1);
        QTest::newRow("short after more than 20 ms")
            << bytes(16) << 33 << qint64(20001) << Verdict::Done << qint64(0);
        QTest::newRow("longer than expected waits for the silence")
            << bytes(34) << 33 << qint64(1750) << Verdict::Wait << qint64(18251);
        QTest::newRow("longer than expected after the silence")
            << bytes(34) << 33 << qint64(20001) << Verdict::Done << qint64(0);
        QTest::newRow("five bytes without the exception bit wait for the silence")
            << QByteArray::fromHex("010302c0f1") << 45 << qint64(1750) << Verdict::Wait
            << qint64(18251);
        QTest::newRow("exception answer with a byte more waits for the silence")
            << QByteArray::fromHex("018302c0f100") << 45 << qint64(1750) << Verdict::Wait
            << qint64(18251);
    }

    void judge()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, expectedSize);
        QFETCH(qint64, quietUs);
        QFETCH(Verdict, verdict);
        QFETCH(qint64, waitUs);
        const answertiming::Step step = answertiming::judge(quietUs, received, expectedSize);
        QCOMPARE(int(step.verdict), int(verdict));
        QCOMPARE(step.waitUs, waitUs);
    }
};

QTEST_GUILESS_MAIN(TestAnswerTiming)
#include "tst_answertiming.moc"
