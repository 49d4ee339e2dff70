// When the worker takes an answer as over: the guard after a complete answer, the long silence
// after anything else, and the no-answer limit.
#include "link/answertiming.h"

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
        // 3.5 characters of 11 bits, rounded up.
        QTest::newRow("1200") << 1200 << qint64(32084);
        QTest::newRow("9600") << 9600 << qint64(4011);
        QTest::newRow("19200") << 19200 << qint64(2006);
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

    void judge_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("expectedSize");
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("quietUs");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<qint64>("waitUs");

        QTest::newRow("nothing yet")
            << QByteArray() << 33 << 115200 << qint64(0) << Verdict::Wait << qint64(400001);
        QTest::newRow("nothing at the limit")
            << QByteArray() << 33 << 115200 << qint64(400000) << Verdict::Wait << qint64(1);
        QTest::newRow("nothing past the limit")
            << QByteArray() << 33 << 115200 << qint64(400001) << Verdict::NoAnswer << qint64(0);

        QTest::newRow("complete, guard not over")
            << bytes(33) << 33 << 115200 << qint64(0) << Verdict::Wait << qint64(1750);
        QTest::newRow("complete, guard over")
            << bytes(33) << 33 << 115200 << qint64(1750) << Verdict::Done << qint64(0);
        QTest::newRow("complete at 9600 waits its longer guard")
            << bytes(45) << 45 << 9600 << qint64(2000) << Verdict::Wait << qint64(2011);
        QTest::newRow("complete at 9600 after its guard")
            << bytes(45) << 45 << 9600 << qint64(4011) << Verdict::Done << qint64(0);

        QTest::newRow("short waits for the silence")
            << bytes(16) << 33 << 115200 << qint64(5000) << Verdict::Wait << qint64(15001);
        QTest::newRow("short at 20 ms is not over")
            << bytes(16) << 33 << 115200 << qint64(20000) << Verdict::Wait << qint64(1);
        QTest::newRow("short after more than 20 ms")
            << bytes(16) << 33 << 115200 << qint64(20001) << Verdict::Done << qint64(0);
        QTest::newRow("longer than expected waits for the silence")
            << bytes(34) << 33 << 115200 << qint64(1750) << Verdict::Wait << qint64(18251);
        QTest::newRow("longer than expected after the silence")
            << bytes(34) << 33 << 115200 << qint64(20001) << Verdict::Done << qint64(0);

        QTest::newRow("exception answer ends after the guard")
            << QByteArray::fromHex("018302c0f1") << 45 << 115200 << qint64(1750) << Verdict::Done
            << qint64(0);
        QTest::newRow("five bytes without the exception bit wait for the silence")
            << QByteArray::fromHex("010302c0f1") << 45 << 115200 << qint64(1750) << Verdict::Wait
            << qint64(18251);
        QTest::newRow("exception answer with a byte more waits for the silence")
            << QByteArray::fromHex("018302c0f100") << 45 << 115200 << qint64(1750) << Verdict::Wait
            << qint64(18251);
    }

    void judge()
    {
        QFETCH(QByteArray, received);
        QFETCH(int, expectedSize);
        QFETCH(int, baud);
        QFETCH(qint64, quietUs);
        QFETCH(Verdict, verdict);
        QFETCH(qint64, waitUs);
        const answertiming::Step step = answertiming::judge(quietUs, received, expectedSize, baud);
        QCOMPARE(int(step.verdict), int(verdict));
        QCOMPARE(step.waitUs, waitUs);
    }
};

QTEST_GUILESS_MAIN(TestAnswerTiming)
#include "tst_answertiming.moc"
