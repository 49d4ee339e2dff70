#include "print/reportdocument.h"
#include "codec/filefault.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

namespace reportprint {

namespace {

// A font with Cyrillic letters that the set-up installs (fonts-dejavu-core).
const QString family = QStringLiteral("DejaVu Sans");
const QColor differsBackground(0xff, 0xd8, 0xa8);
const QColor silentBackground(0xe4, 0xe4, 0xe4);
const QColor headerBackground(0xd8, 0xe4, 0xf0);
// The foot of the page, under the text, holds the page number.
constexpr qreal footMm = 8;

QTextCharFormat chars(qreal points, bool bold = false)
{
    QTextCharFormat format;
    format.setFont(QFont(family));
    format.setFontPointSize(points);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return format;
}

QTextBlockFormat paragraph(qreal above, qreal below, Qt::Alignment align = Qt::AlignLeft)
{
    QTextBlockFormat format;
    format.setTopMargin(above);
    format.setBottomMargin(below);
    format.setAlignment(align);
    return format;
}

void putCell(QTextTable* table, int row, int column, const QString& text,
             const QTextCharFormat& format, const QColor& background = QColor())
{
    QTextTableCell cell = table->cellAt(row, column);
    QTextTableCellFormat own = cell.format().toTableCellFormat();
    if (background.isValid())
        own.setBackground(background);
    // The lines are the cells' own, not the table's frame: a frame would be drawn on to the
    // foot of a page that the next row does not fit on, and again above the repeated header.
    if (table->format().borderStyle() != QTextFrameFormat::BorderStyle_None) {
        own.setBorder(0.5);
        own.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        own.setBorderBrush(Qt::black);
    }
    cell.setFormat(own);
    QTextCursor cursor = cell.firstCursorPosition();
    cursor.setCharFormat(format);
    cursor.insertText(text, format);
}

QTextTableFormat tableFormat(bool lined)
{
    QTextTableFormat format;
    format.setBorder(0);
    format.setBorderCollapse(true);
    // Marks a table whose cells are lined.
    format.setBorderStyle(lined ? QTextFrameFormat::BorderStyle_Solid
                                : QTextFrameFormat::BorderStyle_None);
    format.setCellSpacing(0);
    format.setCellPadding(2);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    return format;
}

QString orDash(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("—") : text;
}

void headerTable(QTextCursor& cursor, const linereport::Report& report)
{
    const linereport::Header& h = report.header;
    const QList<QPair<QString, QString>> lines = {
        {QStringLiteral("Объект:"), orDash(h.site)},
        {QStringLiteral("Линия:"), orDash(h.line)},
        {QStringLiteral("Порт:"), orDash(h.port)},
        {QStringLiteral("Файл линии:"), orDash(report.fileName)},
        {QStringLiteral("Дата и время:"), linereport::timeText(h.at)},
        {QStringLiteral("Инженер:"), orDash(h.engineer)},
        {QStringLiteral("Программа:"), h.program},
        {QStringLiteral("Компьютер:"), orDash(h.host)},
    };
    QTextTableFormat format = tableFormat(false);
    format.setWidth(QTextLength(QTextLength::VariableLength, 0));
    QTextTable* table = cursor.insertTable(lines.size(), 2, format);
    for (int i = 0; i < lines.size(); ++i) {
        putCell(table, i, 0, lines[i].first, chars(9, true));
        putCell(table, i, 1, lines[i].second, chars(9));
    }
    cursor.movePosition(QTextCursor::End);
}

void sensorTable(QTextCursor& cursor, const linereport::Report& report)
{
    const QStringList captions = QStringList{QStringLiteral("Адрес"), QStringLiteral("Скорость")} +
                                 linereport::columnCaptions();
    const QStringList keys = linereport::columnKeys();
    QTextTableFormat format = tableFormat(true);
    format.setHeaderRowCount(1);
    // Widths in percent, for 16-letter names and versions; a longer word breaks in its cell.
    const int widths[] = {6, 8, 10, 16, 8, 9, 5, 7, 9, 5, 6, 11};
    QVector<QTextLength> constraints;
    for (int width : widths)
        constraints << QTextLength(QTextLength::PercentageLength, width);
    format.setColumnWidthConstraints(constraints);
    QTextTable* table = cursor.insertTable(report.rows.size() + 1, captions.size(), format);
    for (int c = 0; c < captions.size(); ++c)
        putCell(table, 0, c, captions[c], chars(6, true), headerBackground);
    for (int r = 0; r < report.rows.size(); ++r) {
        const linereport::Row& row = report.rows[r];
        const int at = r + 1;
        putCell(table, at, 0, QString::number(row.address), chars(6.5));
        putCell(table, at, 1, QString::number(row.speed), chars(6.5));
        if (row.state != linereport::Reading::Answered) {
            table->mergeCells(at, 2, 1, captions.size() - 2);
            putCell(table, at, 2, row.note, chars(6.5, true), silentBackground);
            continue;
        }
        const QStringList cells = linereport::cells(row);
        for (int c = 0; c < cells.size(); ++c) {
            const bool differs = row.differs.contains(keys[c]);
            putCell(table, at, c + 2, differs ? cells[c] + QStringLiteral(" *") : cells[c],
                    chars(6.5, differs), differs ? differsBackground : QColor());
        }
    }
    cursor.movePosition(QTextCursor::End);
}

void differencesPart(QTextCursor& cursor, const linereport::Report& report)
{
    cursor.insertBlock(paragraph(10, 4), chars(10, true));
    cursor.insertText(QStringLiteral("Расхождения с файлом линии"), chars(10, true));
    if (report.differences.isEmpty()) {
        cursor.insertBlock(paragraph(0, 0), chars(9));
        cursor.insertText(QStringLiteral("Нет."), chars(9));
        return;
    }
    cursor.insertBlock(paragraph(0, 0), chars(8));
    cursor.insertText(QStringLiteral("Поля, отмеченные в таблице знаком *:"), chars(8));
    cursor.insertBlock(paragraph(2, 0));
    QTextTableFormat format = tableFormat(true);
    format.setHeaderRowCount(1);
    const QStringList captions = {QStringLiteral("Датчик"), QStringLiteral("Поле"),
                                  QStringLiteral("В файле"), QStringLiteral("В датчике")};
    QTextTable* table = cursor.insertTable(report.differences.size() + 1, 4, format);
    for (int c = 0; c < captions.size(); ++c)
        putCell(table, 0, c, captions[c], chars(8, true), headerBackground);
    for (int r = 0; r < report.differences.size(); ++r) {
        const linereport::Difference& d = report.differences[r];
        const QStringList texts = {d.sensor, d.field, d.inFile, d.onSensor};
        for (int c = 0; c < texts.size(); ++c)
            putCell(table, r + 1, c, texts[c], chars(8));
    }
    cursor.movePosition(QTextCursor::End);
}

void signatures(QTextCursor& cursor, const linereport::Report& report)
{
    cursor.insertBlock(paragraph(24, 4));
    QTextTableFormat format = tableFormat(false);
    format.setCellPadding(6);
    QTextTable* table = cursor.insertTable(3, 2, format);
    const QString line = QStringLiteral("________________________");
    putCell(table, 0, 0, QStringLiteral("Инженер по наладке"), chars(9, true));
    putCell(table, 0, 1, QStringLiteral("Представитель заказчика"), chars(9, true));
    putCell(table, 1, 0,
            line + QStringLiteral(" / ") + orDash(report.header.engineer) + QStringLiteral(" /"),
            chars(9));
    putCell(table, 1, 1, line + QStringLiteral(" / ____________ /"), chars(9));
    putCell(table, 2, 0, QStringLiteral("Дата: ____________"), chars(9));
    putCell(table, 2, 1, QStringLiteral("Дата: ____________"), chars(9));
    cursor.movePosition(QTextCursor::End);
}

void build(QTextDocument& document, const linereport::Report& report)
{
    document.setDefaultFont(QFont(family, 9));
    QTextOption option = document.defaultTextOption();
    // A word wider than its column breaks within it rather than run out of the page.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    QTextCursor cursor(&document);
    cursor.setBlockFormat(paragraph(0, 8, Qt::AlignHCenter));
    cursor.insertText(linereport::title, chars(15, true));
    cursor.insertBlock(paragraph(0, 6));
    headerTable(cursor, report);
    cursor.insertBlock(paragraph(10, 4), chars(10, true));
    cursor.insertText(QStringLiteral("Датчики (%1)").arg(report.rows.size()), chars(10, true));
    cursor.insertBlock(paragraph(0, 0));
    sensorTable(cursor, report);
    differencesPart(cursor, report);
    cursor.insertBlock(paragraph(10, 0), chars(10, true));
    cursor.insertText(QStringLiteral("Итог: ") + report.summary, chars(10, true));
    signatures(cursor, report);
}

} // namespace

bool draw(const linereport::Report& report, QPagedPaintDevice* device)
{
    device->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(12, 12, 12, 10), QPageLayout::Millimeter));
    QTextDocument document;
    build(document, report);
    // Laid out for the device itself, so that the pages counted are the pages drawn.
    document.documentLayout()->setPaintDevice(device);
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(0);
    document.rootFrame()->setFrameFormat(frame);
    const qreal foot = footMm / 25.4 * device->logicalDpiY();
    const QSizeF page(device->width(), device->height() - foot);
    document.setPageSize(page);

    QPainter painter;
    if (!painter.begin(device))
        return false;
    const int pages = document.pageCount();
    const QFont footFont(QFont(family, 8), device);
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            device->newPage();
        painter.save();
        painter.translate(0, -i * page.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, i * page.height(), page.width(), page.height());
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        painter.setFont(footFont);
        const QRectF footRect(0, page.height(), page.width(), foot);
        painter.drawText(footRect, Qt::AlignLeft | Qt::AlignBottom,
                         linereport::title + QStringLiteral(", ") + orDash(report.header.line));
        painter.drawText(footRect, Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("стр. %1 из %2").arg(i + 1).arg(pages));
    }
    return painter.end();
}

QString savePdf(const linereport::Report& report, const QString& path)
{
    QSaveFile file(path);
    QString why;
    if (!openFile(file, QIODevice::WriteOnly, &why))
        return QStringLiteral("Протокол «%1» не записан: %2").arg(path, why);
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(linereport::title);
        pdf.setCreator(report.header.program);
        pdf.setResolution(300);
        if (!draw(report, &pdf))
            return QStringLiteral("Протокол «%1» не записан: PDF не создаётся").arg(path);
    }
    if (!file.commit())
        return QStringLiteral("Протокол «%1» не записан: %2").arg(path, file.errorString());
    return QString();
}

} // namespace reportprint
