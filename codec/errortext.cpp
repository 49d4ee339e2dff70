#include "codec/errortext.h"

#include "codec/rtu.h"

namespace {

// Index = code, up to the last code of the master's own.
const QString texts[] = {
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
    QStringLiteral("Загрузчик ответил неизвестным состоянием флеш"),
};

static_assert(sizeof(texts) / sizeof(texts[0]) == rtu::UnknownFlashStatus + 1,
              "a text for every code up to the last of the master's own");

} // namespace

QString errorTextFor(int code)
{
    if (code >= 0 && code < int(sizeof(texts) / sizeof(texts[0])))
        return texts[code];
    if (code >= 0 && code <= 0xFF && rtu::isFlashStatus(quint8(code)))
        return rtu::flashStatusName(rtu::FlashStatus(code));
    return QStringLiteral("Неизвестная ошибка (%1)").arg(code);
}
