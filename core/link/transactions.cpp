#include "codec/errortext.h"
#include "codec/plural.h"
#include "codec/rtu.h"
#include "core/link/modbus.h"

#include <QThread>

namespace {

void appendWord(QByteArray& frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

QByteArray header(quint8 addr, quint8 function)
{
    QByteArray frame;
    frame.append(char(addr));
    frame.append(char(function));
    return frame;
}

} // namespace

void ModBus::calcCrc(QByteArray& data, int len)
{
    rtu::calcCrc(data, len);
}

int ModBus::checkAnswer(const QByteArray& answer, quint8 expectedAddr, quint8 expectedCmd,
                        int expectedSize)
{
    return rtu::checkAnswer(answer, expectedAddr, expectedCmd, expectedSize);
}

quint16 ModBus::getCRC(quint16 r_CRC, quint8 b)
{
    return rtu::getCRC(r_CRC, b);
}

void ModBus::transact(QByteArray request, int expectedSize, int attempNumber, int* errCode)
{
    calcCrc(request, request.size());
    expectedAnswerSize = expectedSize;
    int error = rtu::NoAnswer;
    QByteArray answer;
    for (int attempt = 0; attempt < attempNumber && !stopRequested(); ++attempt) {
        quietLine();
        before_recv();
        WriteToPort(request);
        // A closed port sends nothing, and no request line pretends otherwise.
        if (port->isOpen() && trafficShown)
            emit print(GetTime() + QStringLiteral("| << "), rtu::hexText(request));
        wait_answer();
        // What comes after the judgement belongs to no answer.
        answer = recvBuf;
        recvBuf.clear();
        error = checkAnswer(answer, quint8(request.at(0)), quint8(request.at(1)), expectedSize);
        misframed = error == rtu::WrongAddress || error == rtu::WrongFunction;
        if (errCode)
            *errCode = error;
        if (error == rtu::NoError)
            break;
        // Two lines a second of the poll would soon push the loss line out of sight.
        if (!portStillLost() && trafficShown)
            emit print(GetTime() + QStringLiteral("| << "), errorTextFor(error));
    }
    // Without any attempt the answer is empty and the code says "no answer", so that a
    // caller waiting for this packet is never left hanging.
    emit packetReady(answer, error);
}

void ModBus::mb_readCoil(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber)
{
    QByteArray frame = header(addr, 0x01);
    appendWord(frame, reg_addr);
    appendWord(frame, reg_count);
    transact(frame, (reg_count + 7) / 8 + 5, attempNumber);
}

void ModBus::mb_read(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber,
                     int* errCode)
{
    QByteArray frame = header(addr, 0x03);
    appendWord(frame, reg_addr);
    appendWord(frame, reg_count);
    transact(frame, 2 * reg_count + 5, attempNumber, errCode);
}

void ModBus::mb_write(quint8 addr, quint16 reg_addr, quint16 reg_count, QByteArray data,
                      int attempNumber)
{
    const int dataBytes = 2 * reg_count;
    if (data.size() < dataBytes) {
        emit print(GetTime() + QStringLiteral("| << "),
                   QStringLiteral("Запись не отправлена: для регистров (%1) нужно %2 данных, "
                                  "передано %3")
                       .arg(reg_count)
                       .arg(bytesText(dataBytes), bytesText(data.size())));
        emit packetReady(QByteArray(), rtu::WrongLength);
        return;
    }
    // No byte-count byte: the sensor takes the data right after the register count.
    QByteArray frame = header(addr, 0x10);
    appendWord(frame, reg_addr);
    appendWord(frame, reg_count);
    frame.append(data.left(dataBytes));
    transact(frame, 8, attempNumber);
}

void ModBus::mb_erasePage(quint8 addr, quint8 startPage, quint8 countPage, int attempNumber)
{
    QByteArray frame = header(addr, rtu::eraseFunction);
    frame.append(char(startPage));
    frame.append(char(countPage));
    transact(frame, 6, attempNumber);
}

void ModBus::mb_goToLoader(quint8 addr, int attempNumber)
{
    QByteArray frame = header(addr, 0x40);
    frame.append('\0');
    transact(frame, 5, attempNumber);
}

void ModBus::mb_goToMainAppl(quint8 addr, int attempNumber)
{
    QByteArray frame = header(addr, 0x41);
    frame.append('\0');
    transact(frame, 5, attempNumber);
}

void ModBus::mb_readPotent(quint8 addr, int attempNumber)
{
    QByteArray frame = header(addr, 0x50);
    frame.append('\0');
    transact(frame, 6, attempNumber);
}

void ModBus::mb_writePotent(quint8 addr, quint8 A, int attempNumber)
{
    QByteArray frame = header(addr, 0x51);
    frame.append('\0');
    frame.append(char(A));
    transact(frame, 5, attempNumber);
}
