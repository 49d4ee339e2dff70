#include "codec/errortext.h"

const QString errorText[22] = {
    QString(),
    QStringLiteral("Устройство ответило: несуществующая команда"),
    QStringLiteral("Устройство ответило: ошибка контрольной суммы"),
    QStringLiteral("Устройство ответило: ошибка адреса регистра"),
    QStringLiteral("Устройство ответило: ошибка регистра"),
    QStringLiteral("Неверная длина ответа"),
    QStringLiteral("Нет ответа"),
    QStringLiteral("Неверный ModBus адрес ответа"),
    QStringLiteral("Неверная ModBus команда ответа"),
    QStringLiteral("Неизвестная ошибка"),
    QStringLiteral("Устройство ответило: ошибка записи настроек во flash"),
    QStringLiteral("Устройство ответило: некорректные настройки"),
    QString(),
    QString(),
    QString(),
    QString(),
    QString(),
    QStringLiteral("FLASH_BUSY"),
    QStringLiteral("FLASH_ERROR_WRP"),
    QStringLiteral("FLASH_ERROR_PROGRAM"),
    QStringLiteral("FLASH_COMPLETE"),
    QStringLiteral("FLASH_TIMEOUT"),
};

QString errorTextFor(int code)
{
    if (code >= 0 && code < int(sizeof(errorText) / sizeof(errorText[0])))
        return errorText[code];
    return QStringLiteral("Неизвестная ошибка (%1)").arg(code);
}
