#pragma once

#include <deque>

#include <QWidget>

#include "session/PendingTraffic.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTextCursor;
class QTimer;

namespace velkon {

class Prompts;
class Session;
class StringTable;

// Shows one session's traffic as it passes: every chunk with its time,
// direction and source, in hex or as text, the two directions in their own
// colours. The bridge only copies chunks into a bounded buffer; the window
// draws them ten times a second while it is visible and not paused. While
// paused, chunks wait up to the buffer's bound and those beyond it are
// shown as skipped.
class MonitorWindow : public QWidget {
public:
    // Bytes waiting for the next drawing.
    // Drawing is on the bridge's thread, so one drawing stays short.
    static constexpr std::size_t kPendingLimit = 256 << 10;
    // Bytes of data kept, and redrawn when the view changes.
    static constexpr std::size_t kHistoryLimit = 1 << 20;
    static constexpr int kDrawIntervalMs = 100;

    MonitorWindow(Session& session, const StringTable& strings, Prompts& prompts,
                  QWidget* parent = nullptr);
    ~MonitorWindow() override;

    // The session goes: no more traffic, and the feed is not touched again.
    void DetachFromSession();
    // Draws what is pending now (the timer does it while shown).
    void DrawPending();
    // The whole text as shown.
    QString Text() const;

    QPushButton* m_pauseButton;
    QPushButton* m_clearButton;
    QPushButton* m_copyButton;
    QPushButton* m_saveButton;
    QRadioButton* m_hexRadio;
    QRadioButton* m_textRadio;
    QPlainTextEdit* m_view;

    void onPauseToggled(bool paused);
    void onClearClicked();
    void onCopyClicked();
    void onSaveClicked();
    void onViewChosen();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Build();
    void UpdateTimer();
    void Append(QTextCursor& cursor, const TrafficRecord& record);
    void Redraw();
    void Keep(TrafficRecord record);
    QString EventText(const TrafficRecord& record) const;

    Session* m_session;
    const StringTable& m_strings;
    Prompts& m_prompts;
    PendingTraffic m_pending{kPendingLimit};
    std::deque<TrafficRecord> m_history;
    std::size_t m_historyBytes = 0;
    QTimer* m_drawTimer;
};

}  // namespace velkon
