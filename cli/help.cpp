// The --help texts, laid out as manual pages: name, synopsis, description, options, exit
// status, examples.
#include "cli/commands.h"

namespace {

struct Page
{
    const char* name;
    const char* summary;
    const char* synopsis;
    const char* description;
    const char* options; // the command's own; the common ones follow on every page
    const char* examples;
};

const Page pages[] = {
    {"ports", "список последовательных портов", "velduo ports [--json]",
     "Выводит последовательные порты: устройство и описание. Порты из переменной\n"
     "VEL_DUO300_EXTRA_PORTS (пути через «:») идут первыми, как в окне программы.\n",
     "", "    velduo ports\n    velduo ports --json\n"},
    {"scan", "поиск датчиков на линии",
     "velduo scan [--speeds LIST] [--addresses LIST] [--port PATH] [--json]",
     "Поиск, как в окне: каждый адрес из списка опрашивается один раз на каждой\n"
     "скорости из списка. Для каждого найденного датчика выводятся тип, версия ПО\n"
     "и имя. С --json выводится файл линии (формат velduo-line) с найденными\n"
     "датчиками.\n",
     "    --speeds LIST\n"
     "        Скорости через запятую; по умолчанию 115200,38400,9600.\n"
     "    --addresses LIST\n"
     "        Адреса через запятую, допустимы диапазоны: 1-5,7; по умолчанию 1-31.\n",
     "    velduo scan --port /dev/ttyUSB0\n    velduo scan --speeds 9600 --addresses 1-10 "
     "--json\n"},
    {"info", "живые значения и уставки датчика", "velduo info SENSOR [--json]",
     "Считывает текущие параметры (тип, измеренное значение, отсчёт АЦП, время\n"
     "работы, версию ПО) и уставки датчика.\n",
     "", "    velduo info 5@9600\n    velduo info 1 --json\n"},
    {"read", "уставки датчика", "velduo read SENSOR [--json]",
     "Считывает уставки: имя, скорость, уставку, точки нуля и номинала (отсчёты\n"
     "АЦП) и весь блок уставок в шестнадцатеричном виде.\n",
     "", "    velduo read 5@9600\n"},
    {"write", "запись уставок",
     "velduo write SENSOR [--name N] [--speed S] [--setpoint V] [--json]",
     "Считывает блок уставок, меняет только заданное, проверяет значения, как окно\n"
     "(уставка от -30000 до 30000, имя в Windows-1251 не длиннее 16 байт, скорость из\n"
     "списка), записывает, считывает обратно и сравнивает. Новая скорость\n"
     "записывается, только если на ней по адресу датчика никто не отвечает; после\n"
     "смены скорости датчик считывается на новой скорости.\n",
     "    --name N\n        Имя датчика.\n"
     "    --speed S\n        Скорость, бит/с: 115200, 57600, 38400, 19200, 9600, 4800, 2400, "
     "1200.\n"
     "    --setpoint V\n        Уставка, В или °C.\n",
     "    velduo write 5@9600 --name \"Ввод 1\" --setpoint 250\n"
     "    velduo write 1 --speed 9600\n"},
    {"set-address", "смена адреса Modbus", "velduo set-address SENSOR NEW [--yes]",
     "Как в окне: проверяет, что адрес NEW (1-31) свободен на скорости датчика\n"
     "(если занят, называет, кто там отвечает), спрашивает подтверждение и\n"
     "записывает адрес.\n",
     "", "    velduo set-address 1 5 --yes\n"},
    {"reset", "настройки по умолчанию", "velduo reset SENSOR [--yes]",
     "После подтверждения записывает в датчик настройки по умолчанию и сообщает,\n"
     "где он отвечает теперь (адрес 1, 115200 бит/с); если там уже отвечает\n"
     "другой датчик, ничего не записывает.\n",
     "", "    velduo reset 5@9600 --yes\n"},
    {"calibrate", "калибровка датчика напряжения",
     "velduo calibrate zero SENSOR\nvelduo calibrate nominal SENSOR",
     "Калибровка, как в окне, только для датчиков напряжения. zero записывает\n"
     "текущий отсчёт АЦП как точку нуля (подайте 0 В). nominal шагами\n"
     "потенциометра вводит отсчёт в окно 30-95 % шкалы и записывает его как точку\n"
     "номинала (подайте номинальное напряжение).\n",
     "", "    velduo calibrate zero 5@9600\n    velduo calibrate nominal 5@9600\n"},
    {"flash", "перепрограммирование датчика", "velduo flash SENSOR IMAGE [--yes]",
     "Заменяет программу датчика образом IMAGE (до 10240 байт), как окно. Образ\n"
     "читается и проверяется целиком до первого байта на линии (байты 10236-10239,\n"
     "место контрольной суммы, должны быть пустыми, 0xFF); подтверждение называет\n"
     "датчик и образ. Так же возвращается датчик, оставшийся в загрузчике после\n"
     "прерванного перепрограммирования.\n",
     "", "    velduo flash 5@9600 VEL_DUO300.bin --yes\n"},
    {"watch", "опрос датчиков до Ctrl-C",
     "velduo watch SENSOR... [--interval S] [--csv] [--json] [--mqtt URL [--mqtt-topic PREFIX]\n"
     "    [--mqtt-user NAME] [--mqtt-password-file FILE] [--mqtt-cafile FILE]\n"
     "    [--mqtt-cert FILE --mqtt-key FILE]]",
     "Опрашивает датчики по очереди и выводит строку на каждое чтение с меткой\n"
     "времени (или строку CSV, или объект JSON на строке), пока не нажат Ctrl-C.\n"
     "Датчики одной скорости опрашиваются подряд: порт открывается заново только\n"
     "при смене скорости.\n"
     "С --mqtt каждое чтение публикуется и брокеру MQTT (темы и данные - в README):\n"
     "PREFIX/status, PREFIX/line, PREFIX/sensor/АДРЕС (сохраняемые) и\n"
     "PREFIX/reading/АДРЕС (QoS 1, с порядковым номером). Пока брокер недоступен,\n"
     "показания ждут в очереди (час полной линии), затем уходят по порядку. Только\n"
     "публикация: ничто от брокера не попадает на линию. Пароль - из переменной\n"
     "VELDUO_MQTT_PASSWORD или файла, никогда из командной строки.\n",
     "    --interval S\n        Пауза между кругами опроса, секунд; по умолчанию 1.\n"
     "    --csv\n        Строки CSV: time,address,speed,type,measure,adc,workTime,error.\n"
     "    --mqtt URL\n        Брокер: mqtt://УЗЕЛ[:ПОРТ] (1883) или mqtts://УЗЕЛ[:ПОРТ] (TLS, "
     "8883).\n"
     "    --mqtt-topic PREFIX\n        Начало тем; по умолчанию velduo/<имя узла>/<имя порта>.\n"
     "    --mqtt-user NAME\n        Имя пользователя на брокере.\n"
     "    --mqtt-password-file FILE\n        Пароль - первая строка файла.\n"
     "    --mqtt-cafile FILE\n        Сертификат CA брокера (mqtts); без него - системные.\n"
     "    --mqtt-cert FILE, --mqtt-key FILE\n        Сертификат и ключ клиента (mqtts).\n",
     "    velduo watch 1@9600 2@38400 --interval 0.5\n    velduo watch 5@9600 --csv > log.csv\n"
     "    velduo watch 1@9600 2@9600 --mqtt mqtts://broker.local --mqtt-cafile ca.pem \\\n"
     "        --mqtt-user line7 --mqtt-password-file /etc/velduo/password\n"},
    {"commission", "ввод линии в работу по плану",
     "velduo commission PLAN --out LINEFILE [--image IMAGE] [--resume] [--yes]",
     "PLAN - файл линии, записи которого говорят, чем станет каждая позиция:\n"
     "address, speed, name, setpoint, по желанию \"calibrate\": [\"zero\", \"nominal\"]\n"
     "и \"flash\": true. План, образ и файл линии проверяются целиком до первого\n"
     "байта. Для каждой записи по порядку: проверка, что адрес записи на её скорости\n"
     "свободен; ожидание датчика с заводскими настройками (адрес 1, 115200): запрос\n"
     "«Подключите датчик...» и Enter, с --yes - опрос раз в секунду; перепрограммирование,\n"
     "если задано (датчик, оставшийся в загрузчике, - только так); запись уставок\n"
     "и адреса одним блоком, когда адрес записи на её скорости снова проверен\n"
     "свободным; чтение обратно и сравнение с записью; калибровка, если задана (с\n"
     "запросом подать напряжение, без запроса с --yes); датчик, как он считан,\n"
     "дописывается в LINEFILE, который сохраняется целиком после каждого датчика.\n"
     "Запись, что не удалась, не останавливает остальные (код 5). Подтверждения\n"
     "операций не спрашиваются: согласие - сам план.\n",
     "    --out LINEFILE\n        Файл линии для результата; если он уже есть, нужен --resume.\n"
     "    --image IMAGE\n        Образ программы для записей с \"flash\": true.\n"
     "    --resume\n        Продолжить LINEFILE: записи, что в нём уже есть, пропускаются.\n",
     "    velduo commission plan.json --out line.json --image VEL_DUO300.bin\n"
     "    velduo commission plan.json --out line.json --resume --yes\n"},
};

const char common[] =
    "    --port PATH\n"
    "        Последовательный порт; иначе переменная VELDUO_PORT, иначе первый порт списка\n"
    "        velduo ports.\n"
    "    --yes\n"
    "        Отвечать «да» на каждое подтверждение. Без него подтверждение спрашивается\n"
    "        на терминале и считается отказом, если стандартный ввод не терминал.\n"
    "    --log FILE\n"
    "        Дописывать в FILE строки монитора порта, как окно пишет в log.txt.\n"
    "    -v\n"
    "        Те же строки на stderr по мере обмена.\n"
    "    --json\n"
    "        Машинный вывод: один документ JSON или, для потоков, объект JSON на строке;\n"
    "        датчик описан ключами файла линии.\n"
    "    -h, --help\n"
    "        Эта справка.\n";

const char exitStatus[] = "    0    выполнено\n"
                          "    1    датчик ответил ошибкой или не ответил (код и текст ошибки в "
                          "выводе),\n"
                          "         или его блок уставок при каждом чтении повреждён\n"
                          "    2    ошибка в командной строке\n"
                          "    3    порт не открывается или потерян\n"
                          "    4    отказано до обмена (негодный образ, значение вне диапазона, "
                          "имя не в\n"
                          "         Windows-1251, адрес или скорость заняты) или не подтверждено\n"
                          "    5    пакет выполнен, но часть записей не удалась\n"
                          "    6    брокер MQTT отверг имя и пароль или сертификат (с его "
                          "причиной)\n"
                          "    130  прервано сигналом SIGINT или SIGTERM\n";

const char sensorNote[] = "SENSOR - датчик в виде АДРЕС@СКОРОСТЬ (5@9600); АДРЕС без скорости "
                          "- заводская\nскорость 115200.\n";

QString indented(const char* text)
{
    QString result;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        result += QStringLiteral("    ") + line + QLatin1Char('\n');
    return result;
}

} // namespace

QString programHelp()
{
    QString commandsText;
    for (const Page& page : pages)
        commandsText += QStringLiteral("    %1%2\n")
                            .arg(QString::fromUtf8(page.name).leftJustified(14),
                                 QString::fromUtf8(page.summary));
    return QStringLiteral(
               "ИМЯ\n    velduo - обслуживание датчиков VEL_DUO300 из командной строки\n\n"
               "ОБЗОР\n    velduo КОМАНДА [ПАРАМЕТРЫ] [АРГУМЕНТЫ]\n"
               "    velduo КОМАНДА --help\n\n"
               "ОПИСАНИЕ\n"
               "    Делает то же, что окно VEL_DUO300, без окна: по одной команде на "
               "задачу.\n"
               "    Результат выводится на stdout, ход работы и сообщения - на stderr.\n") +
           indented(sensorNote) + QStringLiteral("\nКОМАНДЫ\n") + commandsText +
           QStringLiteral("\nОБЩИЕ ПАРАМЕТРЫ\n") + QString::fromUtf8(common) +
           QStringLiteral("\nКОДЫ ВЫХОДА\n") + QString::fromUtf8(exitStatus) +
           QStringLiteral("\nПРИМЕРЫ\n"
                          "    velduo scan --port /dev/ttyUSB0\n"
                          "    velduo write 5@9600 --setpoint 250\n"
                          "    VELDUO_PORT=/dev/ttyUSB0 velduo commission plan.json --out "
                          "line.json\n");
}

QString commandHelp(const QString& command)
{
    for (const Page& page : pages) {
        if (command != QLatin1String(page.name))
            continue;
        QString text = QStringLiteral("ИМЯ\n    velduo-%1 - %2\n\nОБЗОР\n")
                           .arg(QString::fromUtf8(page.name), QString::fromUtf8(page.summary)) +
                       indented(page.synopsis) + QStringLiteral("\nОПИСАНИЕ\n") +
                       indented(page.description);
        if (QString::fromUtf8(page.synopsis).contains(QLatin1String("SENSOR")))
            text += indented(sensorNote);
        text += QStringLiteral("\nПАРАМЕТРЫ\n") + QString::fromUtf8(page.options) +
                QString::fromUtf8(common) + QStringLiteral("\nКОДЫ ВЫХОДА\n") +
                QString::fromUtf8(exitStatus) + QStringLiteral("\nПРИМЕРЫ\n") +
                QString::fromUtf8(page.examples);
        return text;
    }
    return programHelp();
}
