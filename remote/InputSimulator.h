#pragma once

#include <QObject>
#include <QStringView>
#include <QVector>

#include <memory>

class InputBackend;
struct InputRecord;

// Turns pointer, wheel and keyboard requests into input records for the platform backend,
// with the pauses that make the system see real clicks and keystrokes.
class InputSimulator : public QObject
{
    Q_OBJECT
public:
    // Press-to-release gap of every click.
    static constexpr int ClickHoldMs = 15;
    // Added to the double-click time as the minimum spacing of left single clicks.
    static constexpr int ClickSpacingMarginMs = 50;
    // Pause after each typed UTF-16 unit where the backend asks for one.
    static constexpr int TypePauseMs = 5;
    // Where no pause is needed, typed units go to the backend in batches of at most this many.
    static constexpr int TypeBatchUnits = 64;

    InputSimulator(std::unique_ptr<InputBackend> backend, QObject* parent = nullptr);
    ~InputSimulator() override;

    void leftClick();
    void leftDoubleClick();
    void leftDown();
    void leftUp();
    void rightClick();
    void rightDown();
    void rightUp();
    void middleClick();
    void middleDown();
    void middleUp();
    void scrollWheel(int notches);
    // Finger scrolling: `units` 120ths of a notch (positive away from the user), smooth where
    // the desktop scrolls smoothly; `end` when the fingers lifted.
    void scrollSmooth(int units, bool end);
    void moveRelative(int dx, int dy);
    void moveAbsolute(int x, int y);
    void sendKeyCombination(const QVector<int>& codes);
    // Presses `codes` in order and leaves them down, for keys held across several
    // combinations; releaseKeys lets them up in reverse order.
    void holdKeys(const QVector<int>& codes);
    void releaseKeys(const QVector<int>& codes);
    // Types every UTF-16 unit of `text`, then logs its length.
    void typeText(const QString& text);
    // Types the units of `text` from `from` up to `to` (the end when negative) until all are
    // typed or `budgetMs` have passed on the backend's clock, never parting a surrogate pair;
    // at least one unit is typed. Returns where it stopped. Logs nothing: logTypedText does
    // once the text is done.
    int typeTextPart(const QString& text, int from, int budgetMs, int to = -1);
    // Logs that a text was typed and how long it was, never its characters.
    void logTypedText(const QString& text);
    // Characters (code points) of `text`: a surrogate pair counts once.
    static int characterCount(QStringView text);

    // Releases the mouse buttons pressed with leftDown, rightDown or middleDown and not
    // released since, so that a phone that goes away leaves nothing held.
    void releaseHeldButtons();
    bool hasHeldButtons() const { return m_heldButtons != 0; }

    InputBackend* backend() const { return m_backend.get(); }

private:
    void inject(const QVector<InputRecord>& records);
    void mouse(quint32 flags);
    void typeUnit(QChar unit, int pauseMs);
    void pause(int milliseconds);
    // Press, hold for ClickHoldMs, release.
    void click(quint32 down, quint32 up);
    // One button record, then the log line `what` with the wall-clock time.
    void mouseLogged(quint32 flags, const char* what);
    // Keeps m_heldButtons in step with the button records of `flags`.
    void trackButtons(quint32 flags);

    std::unique_ptr<InputBackend> m_backend;
    // Wall-clock time of the last left single click, for the log; 0 before the first.
    qint64 m_lastClickTime = 0;
    // Monotonic time of the same click: the spacing is measured on it, so a wall clock set
    // back or forward cannot stretch or skip the pause.
    qint64 m_lastClickMonotonic = 0;
    bool m_hasClicked = false;
    quint32 m_heldButtons = 0; // the press flags of buttons held down
};
