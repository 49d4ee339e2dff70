#include "codec/errortext.h"
#include "codec/plural.h"
#include "codec/rtu.h"
#include "core/link/modbus.h"

#include <QThread>

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
    transact(rtu::readRequest(addr, rtu::Function::ReadCoils, reg_addr, reg_count),
             rtu::answerSize(rtu::Function::ReadCoils, reg_count), attempNumber);
}

void ModBus::mb_read(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber,
                     int* errCode)
{
    transact(rtu::readRequest(addr, rtu::Function::ReadRegisters, reg_addr, reg_count),
             rtu::answerSize(rtu::Function::ReadRegisters, reg_count), attempNumber, errCode);
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
    transact(rtu::writeRequest(addr, reg_addr, reg_count, data),
             rtu::answerSize(rtu::Function::WriteRegisters), attempNumber);
}

void ModBus::mb_erasePage(quint8 addr, quint8 startPage, quint8 countPage, int attempNumber)
{
    transact(rtu::eraseRequest(addr, startPage, countPage),
             rtu::answerSize(rtu::Function::ErasePages), attempNumber);
}

void ModBus::mb_goToLoader(quint8 addr, int attempNumber)
{
    transact(rtu::plainRequest(addr, rtu::Function::GoToLoader),
             rtu::answerSize(rtu::Function::GoToLoader), attempNumber);
}

void ModBus::mb_goToMainAppl(quint8 addr, int attempNumber)
{
    transact(rtu::plainRequest(addr, rtu::Function::GoToApplication),
             rtu::answerSize(rtu::Function::GoToApplication), attempNumber);
}

void ModBus::mb_readPotent(quint8 addr, int attempNumber)
{
    transact(rtu::plainRequest(addr, rtu::Function::ReadPotentiometer),
             rtu::answerSize(rtu::Function::ReadPotentiometer), attempNumber);
}

void ModBus::mb_writePotent(quint8 addr, quint8 A, int attempNumber)
{
    transact(rtu::writePotentiometerRequest(addr, A),
             rtu::answerSize(rtu::Function::WritePotentiometer), attempNumber);
}
