#include "MonitorWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

#include "Localization.h"
#include "Prompts.h"
#include "session/MonitorLines.h"
#include "session/Session.h"
#include "session/TrafficRows.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

namespace ids {
constexpr int kTitle = 5314;
constexpr int kPause = 5315;
constexpr int kClear = 5316;
constexpr int kCopy = 5317;
constexpr int kSave = 5318;
constexpr int kHex = 5319;
constexpr int kText = 5320;
constexpr int kSkipped = 5321;
constexpr int kActivated = 5322;
constexpr int kDeactivated = 5323;
constexpr int kClientConnected = 5324;
constexpr int kClientLeft = 5325;
constexpr int kDeviceLost = 5326;
constexpr int kDeviceBack = 5327;
constexpr int kSessionClosed = 5328;
constexpr int kTextFiles = 5329;
constexpr int kCannotWrite = 5330;
}  // namespace ids

// Clock, direction, source, 16 hex pairs and the text column.
constexpr int kHexRowCharacters = 13 + 4 + traffic_rows::kSourceWidth + 2 + 16 * 3 + 1 + 16;

// Enough rows for the history in hex; older rows go first.
constexpr int kMaximumRows = MonitorWindow::kHistoryLimit / traffic_rows::kHexBytesPerRow + 4096;

QTextCharFormat Coloured(const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    return format;
}

}  // namespace

MonitorWindow::MonitorWindow(Session& session, const StringTable& strings, Prompts& prompts,
                             QWidget* parent)
    : QWidget(parent), m_session(&session), m_strings(strings), m_prompts(prompts)
{
    setFont(InterfaceFont(this, strings));
    Build();
    LocalizeWindow(this, strings);
    setWindowTitle(Tr(strings, ids::kTitle).arg(QString::fromStdString(session.form().caption)));
    m_drawTimer = new QTimer(this);
    m_drawTimer->setInterval(kDrawIntervalMs);
    connect(m_drawTimer, &QTimer::timeout, this, [this] { DrawPending(); });
    m_session->traffic().Attach(&m_pending);
}

MonitorWindow::~MonitorWindow()
{
    DetachFromSession();
}

void MonitorWindow::DetachFromSession()
{
    if (m_session && !m_pending.SessionRemoved())
        m_session->traffic().Detach(&m_pending);
    m_session = nullptr;
}

void MonitorWindow::Build()
{
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    m_pauseButton = new QPushButton(this);
    m_pauseButton->setCheckable(true);
    SetTextId(m_pauseButton, ids::kPause);
    m_clearButton = new QPushButton(this);
    SetTextId(m_clearButton, ids::kClear);
    m_copyButton = new QPushButton(this);
    SetTextId(m_copyButton, ids::kCopy);
    m_saveButton = new QPushButton(this);
    SetTextId(m_saveButton, ids::kSave);
    m_hexRadio = new QRadioButton(this);
    SetTextId(m_hexRadio, ids::kHex);
    m_hexRadio->setChecked(true);
    m_textRadio = new QRadioButton(this);
    SetTextId(m_textRadio, ids::kText);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_pauseButton, m_clearButton, m_copyButton, m_saveButton})
        bar->addWidget(w);
    bar->addStretch();
    bar->addWidget(m_hexRadio);
    bar->addWidget(m_textRadio);
    layout->addLayout(bar);

    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setMaximumBlockCount(kMaximumRows);
    m_view->setUndoRedoEnabled(false);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A whole hex row without scrolling sideways.
    const int row = m_view->fontMetrics().horizontalAdvance(QString(kHexRowCharacters, '0'));
    m_view->setMinimumSize(row + 2 * m_view->frameWidth() +
                               m_view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8,
                           240);
    layout->addWidget(m_view, 1);

    connect(m_pauseButton, &QPushButton::toggled, this, [this](bool on) { onPauseToggled(on); });
    connect(m_clearButton, &QPushButton::clicked, this, [this] { onClearClicked(); });
    connect(m_copyButton, &QPushButton::clicked, this, [this] { onCopyClicked(); });
    connect(m_saveButton, &QPushButton::clicked, this, [this] { onSaveClicked(); });
    connect(m_hexRadio, &QRadioButton::toggled, this, [this] { onViewChosen(); });
}

void MonitorWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    UpdateTimer();
}

void MonitorWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    UpdateTimer();
}

void MonitorWindow::UpdateTimer()
{
    // Hidden or paused, nothing is drawn: chunks wait in the bounded buffer.
    if (isVisible() && !m_pauseButton->isChecked())
        m_drawTimer->start();
    else
        m_drawTimer->stop();
}

void MonitorWindow::onPauseToggled(bool)
{
    UpdateTimer();
}

void MonitorWindow::DrawPending()
{
    if (m_pending.Empty())
        return;
    std::vector<TrafficRecord> records = m_pending.Take();
    QScrollBar* scroll = m_view->verticalScrollBar();
    const bool atEnd = scroll->value() == scroll->maximum();
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (TrafficRecord& record : records) {
        Append(cursor, record);
        Keep(std::move(record));
    }
    cursor.endEditBlock();
    if (atEnd)
        scroll->setValue(scroll->maximum());
}

void MonitorWindow::Keep(TrafficRecord record)
{
    m_historyBytes += record.bytes.size();
    m_history.push_back(std::move(record));
    while (m_historyBytes > kHistoryLimit && !m_history.empty()) {
        m_historyBytes -= m_history.front().bytes.size();
        m_history.pop_front();
    }
}

void MonitorWindow::Append(QTextCursor& cursor, const TrafficRecord& record)
{
    static const QTextCharFormat toNetwork = Coloured(QColor(0x0b, 0x4f, 0x9c));
    static const QTextCharFormat toSerial = Coloured(QColor(0xa3, 0x32, 0x1e));
    static const QTextCharFormat note = Coloured(QColor(0x60, 0x60, 0x60));
    const auto row = [&](const QString& text, const QTextCharFormat& format) {
        // The document starts with one empty row, which the first row takes.
        if (!m_view->document()->isEmpty())
            cursor.insertBlock();
        cursor.insertText(text, format);
    };
    const QString clock = QString::fromStdString(monitor_lines::ClockText(record.time));
    switch (record.kind) {
        case TrafficRecord::Kind::kData: {
            const auto& format =
                record.direction == TrafficDirection::kSerialToNetwork ? toNetwork : toSerial;
            const auto rows = m_hexRadio->isChecked() ? traffic_rows::HexRows(record)
                                                      : traffic_rows::TextRows(record);
            for (const std::string& text : rows)
                row(QString::fromStdString(text), format);
            break;
        }
        case TrafficRecord::Kind::kEvent:
            row(clock + " -- " + EventText(record), note);
            break;
        case TrafficRecord::Kind::kSkipped:
            row(clock + " " +
                    Tr(m_strings, ids::kSkipped).arg(static_cast<qulonglong>(record.skipped)),
                note);
            break;
    }
}

QString MonitorWindow::EventText(const TrafficRecord& record) const
{
    const QString detail = QString::fromStdString(record.source);
    switch (record.event) {
        case TrafficEventKind::kActivated:
            return Tr(m_strings, ids::kActivated);
        case TrafficEventKind::kDeactivated:
            return Tr(m_strings, ids::kDeactivated);
        case TrafficEventKind::kClientConnected:
            return Tr(m_strings, ids::kClientConnected).arg(detail);
        case TrafficEventKind::kClientLeft:
            return Tr(m_strings, ids::kClientLeft).arg(detail);
        case TrafficEventKind::kDeviceLost:
            return Tr(m_strings, ids::kDeviceLost) + (detail.isEmpty() ? "" : ": " + detail);
        case TrafficEventKind::kDeviceBack:
            return Tr(m_strings, ids::kDeviceBack);
        case TrafficEventKind::kSessionRemoved:
            return Tr(m_strings, ids::kSessionClosed);
    }
    return {};
}

void MonitorWindow::Redraw()
{
    m_view->clear();
    QTextCursor cursor(m_view->document());
    cursor.beginEditBlock();
    for (const TrafficRecord& record : m_history)
        Append(cursor, record);
    cursor.endEditBlock();
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

void MonitorWindow::onViewChosen()
{
    Redraw();
}

void MonitorWindow::onClearClicked()
{
    m_history.clear();
    m_historyBytes = 0;
    m_view->clear();
}

QString MonitorWindow::Text() const
{
    return m_view->toPlainText();
}

void MonitorWindow::onCopyClicked()
{
    const QString selected = m_view->textCursor().selectedText();
    // A selection's rows are joined by U+2029; the clipboard wants lines.
    QApplication::clipboard()->setText(
        selected.isEmpty() ? Text() : QString(selected).replace(QChar(0x2029), '\n'));
}

void MonitorWindow::onSaveClicked()
{
    const QString path = m_prompts.SaveFile(this, Tr(m_strings, ids::kTextFiles), "txt");
    if (path.isEmpty())
        return;
    QFile file(path);
    const QByteArray text = (Text() + '\n').toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        m_prompts.Message(this, Tr(m_strings, ids::kCannotWrite) + " " + path, windowTitle());
}

}  // namespace velkon
