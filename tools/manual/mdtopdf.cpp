// Turns the Markdown help manual into the PDF that the program hands to the desktop, with its
// figures and a table of contents with page numbers. Run by the build; it needs no display.
//
//     mdtopdf <manual.md> <manual.pdf> <title>
//
// Beside the PDF goes its page index, <manual>.pages: a line for each chapter and section, its
// page (from 1), a tab and its heading, in UTF-8. Qt's PDF writer makes no named destinations,
// so the program opens a viewer at a chapter by its page from this index.
//
// Images are named relative to the manual's folder; one that cannot be read stops the build
// rather than leave a hole in the manual.

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>
#include <cstdio>

namespace {

// The layout's own units: pixels at 96 dpi, scaled to the PDF's resolution when it is drawn.
constexpr qreal layoutDpi = 96;
const qreal pageMargin = 2 / 2.54 * layoutDpi; // 2 cm
const QString contentsTitle = QStringLiteral("Содержание");

bool fail(const QString& text)
{
    std::fprintf(stderr, "mdtopdf: %s\n", qPrintable(text));
    return false;
}

// Loads every image the manual names and fits it to the width of the text.
bool loadImages(QTextDocument& document, const QDir& folder, qreal textWidth)
{
    // Where the images are, taken before any is changed: a change may merge the fragments.
    struct Place
    {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<Place> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                images.append({it.fragment().position(), it.fragment().length(),
                               it.fragment().charFormat().toImageFormat()});
    // From the last, so that a caption put in leaves the places before it where they were.
    for (auto place = images.rbegin(); place != images.rend(); ++place) {
        const QString path = folder.filePath(place->format.name());
        const QImage image(path);
        if (image.isNull())
            return fail(QStringLiteral("cannot read the image %1").arg(path));
        const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        document.addResource(QTextDocument::ImageResource, url, image);
        const qreal width = qMin<qreal>(image.width(), textWidth);
        const QString caption = place->format.stringProperty(QTextFormat::ImageAltText);
        place->format.setName(url.toString());
        place->format.setWidth(width);
        place->format.setHeight(width * image.height() / image.width());
        QTextCursor cursor(&document);
        cursor.setPosition(place->position);
        cursor.setPosition(place->position + place->length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(place->format);
        // The figure centred, its caption under it.
        QTextBlockFormat centred = cursor.blockFormat();
        centred.setAlignment(Qt::AlignHCenter);
        cursor.setBlockFormat(centred);
        if (caption.isEmpty())
            continue;
        cursor.movePosition(QTextCursor::EndOfBlock);
        centred.setTopMargin(2);
        centred.setBottomMargin(8);
        QTextCharFormat italic;
        italic.setFontItalic(true);
        cursor.insertBlock(centred, italic);
        cursor.insertText(caption, italic);
    }
    return true;
}

// Code, inline and in blocks, in a monospaced font that has Cyrillic letters, so that the
// columns of an example stay aligned; the platform's own fixed font may be neither.
void monospaceCode(QTextDocument& document)
{
    const QString platformFixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    QList<QPair<int, int>> code; // position, length
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.fontFixedPitch() || format.fontFamily() == platformFixed)
                code.append({it.fragment().position(), it.fragment().length()});
        }
    QTextCharFormat mono;
    mono.setFontFamily(QStringLiteral("DejaVu Sans Mono"));
    mono.setFontFixedPitch(true);
    for (const auto& [position, length] : code) {
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(mono);
    }
}

struct Entry
{
    QTextBlock heading;
    QTextBlock line; // the entry in the table of contents
};

// A line for every chapter and section after the title, with a place for its page number.
QList<Entry> insertContents(QTextDocument& document, qreal textWidth)
{
    QList<QTextBlock> headings; // chapters and sections; the title is not listed
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 2 || level == 3)
            headings << block;
    }
    QList<Entry> entries;
    if (headings.isEmpty())
        return entries;
    // Before the first chapter, after the title and its introduction.
    QTextCursor cursor(headings.first().previous());
    cursor.movePosition(QTextCursor::EndOfBlock);
    const QTextCharFormat chapterChars = headings.first().begin().fragment().charFormat();
    cursor.insertBlock(headings.first().blockFormat(), chapterChars);
    cursor.insertText(contentsTitle, chapterChars);
    for (const QTextBlock& heading : headings) {
        const bool section = heading.blockFormat().headingLevel() == 3;
        QTextBlockFormat format;
        format.setIndent(section ? 1 : 0);
        format.setTopMargin(section ? 0 : 4);
        // The number at the right margin; the tab is counted from the indented text.
        const qreal right = textWidth - format.indent() * document.indentWidth() - 1;
        format.setTabPositions({QTextOption::Tab(right, QTextOption::RightTab)});
        cursor.insertBlock(format, QTextCharFormat());
        QTextCharFormat chars;
        chars.setFontWeight(section ? QFont::Normal : QFont::Bold);
        cursor.insertText(heading.text() + QStringLiteral("\t00"), chars);
        entries.append({heading, cursor.block()});
    }
    // The first chapter starts on a page of its own after the contents.
    QTextBlockFormat first = headings.first().blockFormat();
    first.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    QTextCursor(headings.first()).setBlockFormat(first);
    return entries;
}

// The page (from 1) a heading stands on.
int pageOf(const QTextDocument& document, const QTextBlock& heading)
{
    // Where its first line stands: the block's own top may be the margin above it, left at the
    // foot of the page before when the heading moved on to the next.
    const qreal top = document.documentLayout()->blockBoundingRect(heading).top() +
                      heading.layout()->lineAt(0).y();
    return int(top / document.pageSize().height()) + 1;
}

// Writes each heading's page into its line; true when none changed. The pages are all taken
// from the layout before the first line changes.
bool numberContents(QTextDocument& document, const QList<Entry>& entries)
{
    QStringList pages;
    for (const Entry& entry : entries)
        pages << QString::number(pageOf(document, entry.heading));
    bool settled = true;
    for (int i = 0; i < entries.size(); ++i) {
        const QTextBlock& line = entries.at(i).line;
        const int tab = line.text().lastIndexOf(QLatin1Char('\t'));
        if (line.text().mid(tab + 1) == pages.at(i))
            continue;
        settled = false;
        QTextCursor cursor(line);
        cursor.setPosition(line.position() + tab + 1);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(pages.at(i));
    }
    return settled;
}

// The page index beside the PDF, written whole or not at all.
bool writePageIndex(const QTextDocument& document, const QList<Entry>& entries,
                    const QString& pdfPath)
{
    QString path = pdfPath;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path.chop(4);
    QSaveFile index(path + QStringLiteral(".pages"));
    if (!index.open(QIODevice::WriteOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot write %1").arg(index.fileName()));
    for (const Entry& entry : entries)
        index.write(QStringLiteral("%1\t%2\n")
                        .arg(pageOf(document, entry.heading))
                        .arg(entry.heading.text())
                        .toUtf8());
    return index.commit() || fail(QStringLiteral("cannot write %1").arg(index.fileName()));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: mdtopdf <manual.md> <manual.pdf> <title>\n");
        return 2;
    }
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString target = QString::fromLocal8Bit(argv[2]);
    QPdfWriter pdf(target);
    pdf.setTitle(QString::fromUtf8(argv[3]));
    pdf.setCreator(QStringLiteral("VEL_DUO300"));
    pdf.setResolution(300);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));

    QTextDocument document;
    // A font with Cyrillic letters; the fonts-dejavu-core package is installed by the set-up.
    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    const qreal scale = pdf.resolution() / layoutDpi;
    const QSizeF page(pdf.width(), pdf.height());
    const qreal textWidth = page.width() / scale - 2 * pageMargin;
    monospaceCode(document);
    if (!loadImages(document, QFileInfo(sourcePath).dir(), textWidth))
        return 1;
    const QList<Entry> entries = insertContents(document, textWidth);
    // Laid out for the PDF itself, so that the pages counted for the contents are the pages
    // printed. Each change of the page size lays the whole document out afresh: laid out
    // piecemeal after a change, the pages lose blocks that follow a figure.
    document.documentLayout()->setPaintDevice(&pdf);
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(pageMargin);
    document.rootFrame()->setFrameFormat(frame);
    document.setPageSize(page);
    // A number that grows by a digit may move the headings after it; a few rounds settle it.
    for (int round = 0; round < 4 && !numberContents(document, entries); ++round)
        document.setPageSize(page);
    if (!writePageIndex(document, entries, target))
        return 1;

    QPainter painter;
    if (!painter.begin(&pdf)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    const int pages = document.pageCount();
    QFont numberFont(document.defaultFont());
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            pdf.newPage();
        painter.save();
        painter.translate(0, -i * page.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * page.height(), page.width(), page.height());
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        painter.setFont(QFont(numberFont, &pdf));
        painter.drawText(QRectF(0, page.height() - pageMargin * scale,
                                page.width() - pageMargin * scale, pageMargin * scale / 2),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(i + 1));
    }
    painter.end();
    if (QFile(target).size() > 0)
        return 0;
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
}
