#include "gui/desktop.h"
#include "gui/endsignals.h"
#include "gui/mainwindow.h"

#include "gui/buildinfo.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>
#include <cstdio>

namespace {

const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                    QStringLiteral("Эта справка."));
const QCommandLineOption versionOption(QStringLiteral("version"),
                                       QStringLiteral("Программа, её версия и версия Qt."));

// The page --help prints, laid out as velduo's are, so that the manual page is made from it.
QString helpText()
{
    QString options;
    for (const QCommandLineOption& option : {helpOption, versionOption}) {
        QStringList names;
        for (const QString& name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        options += QStringLiteral("    %1\n        %2\n")
                       .arg(names.join(QStringLiteral(", ")), option.description());
    }
    return QStringLiteral(
               "ИМЯ\n"
               "    VEL_DUO300 - конфигуратор бесконтактных датчиков VEL_DUO300\n\n"
               "ОБЗОР\n"
               "    VEL_DUO300 [ПАРАМЕТРЫ_Qt]\n"
               "    VEL_DUO300 --help | --version\n\n"
               "ОПИСАНИЕ\n"
               "    Окно для наладки и обслуживания датчиков VEL_DUO300 на последовательной\n"
               "    линии (Modbus RTU, обычно RS-485 через адаптер USB): поиск датчиков,\n"
               "    текущие значения, уставки, смена адреса, сброс, калибровка,\n"
               "    перепрограммирование, монитор порта, файлы линии, обзор линии с трендами\n"
               "    и обзор площадки по MQTT. Подробно - в руководстве: меню «Справка»,\n"
               "    клавиша F1. Те же задачи без окна решает velduo.\n"
               "    Прочие параметры командной строки принимает Qt (-platform, -style и\n"
               "    другие).\n\n"
               "ПАРАМЕТРЫ\n") +
           options +
           QStringLiteral(
               "\nОКРУЖЕНИЕ\n"
               "    VEL_DUO300_EXTRA_PORTS\n"
               "        Пути портов через двоеточие, которых нет в списке системы (например,\n"
               "        псевдотерминалы симулятора); в списке «Serial port» они идут первыми.\n\n"
               "ФАЙЛЫ\n"
               "    log.txt\n"
               "        Журнал монитора порта в рабочей папке; только дописывается.\n"
               "    VEL_DUO300.bin\n"
               "        Образ программы датчика для «Перепрограммирование», в рабочей папке.\n"
               "    Help_for_ServiceSW_VEL_DUO300.pdf\n"
               "        Руководство: из рабочей папки, иначе из папки документации\n"
               "        установленной программы.\n"
               "    ~/.config/VEL_DUO300/VEL_DUO300.conf\n"
               "        Что окно помнит между запусками: порт, положение и размер окна,\n"
               "        последние файлы линии, брокер обзора площадки (без пароля).\n\n"
               "КОДЫ ВЫХОДА\n"
               "    0    окно закрыто, в том числе сигналом SIGTERM, SIGINT или SIGHUP (второй\n"
               "         такой сигнал завершает программу сразу)\n\n"
               "ПРИМЕРЫ\n"
               "    VEL_DUO300\n"
               "    VEL_DUO300_EXTRA_PORTS=/dev/pts/5 VEL_DUO300\n");
}

} // namespace

int main(int argc, char* argv[])
{
    // Answered before the window's application starts, so that they need no display. Qt's own
    // options (-platform, -style...) are the application's: unknown here, they are left to it.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({helpOption, versionOption});
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(helpOption)) {
        std::fputs(helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s (Qt %s)\n", buildinfo::programName, buildinfo::version, qVersion());
        return 0;
    }
    QApplication::setApplicationName(QStringLiteral("VEL_DUO300"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(argc, argv);
    loadQtTranslation(&app);
    QCoreApplication::processEvents();
    MainWindow window;
    window.show();
    closeOnEndSignals(&window);
    return app.exec();
}
