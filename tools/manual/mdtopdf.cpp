// Turns the Markdown help manual into the PDF that the program hands to the desktop. Run by the
// build; it needs no display.
//
//     mdtopdf <manual.md> <manual.pdf> <title>

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: mdtopdf <manual.md> <manual.pdf> <title>\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    // A font with Cyrillic letters; the fonts-dejavu-core package is installed by the set-up.
    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    document.setMarkdown(QString::fromUtf8(source.readAll()));

    const QString target = QString::fromLocal8Bit(argv[2]);
    {
        QPdfWriter pdf(target);
        pdf.setTitle(QString::fromUtf8(argv[3]));
        pdf.setCreator(QStringLiteral("VEL_DUO300"));
        pdf.setResolution(300);
        // The document adds margins of 2 cm of its own when it prints.
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        document.print(&pdf);
    } // the file is complete once the writer is gone
    if (QFile(target).size() > 0)
        return 0;
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
}
