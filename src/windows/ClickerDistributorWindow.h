// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QSet>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace kelvra {

class ClickerKeyRecorderField;
class HelpPopover;
class ToggleSwitch;

/// One key-down as the Clicker Distributor's rules see it: the application key code of the
/// physical key, the modifier bits, and the text the key makes without modifiers.
struct ClickerKeyDown {
    uint16_t keyCode = 0;
    uint64_t modifierFlags = 0;
    std::optional<std::string> charactersIgnoringModifiers;
};

/// The controls of one custom assignment row.
struct CustomAssignmentControls {
    QWidget* row = nullptr;
    QComboBox* commandPopup = nullptr;
    ClickerKeyRecorderField* field = nullptr;
    QPushButton* listenButton = nullptr;
    QToolButton* deleteButton = nullptr;
    /// Under the row: that another program holds its keystroke; hidden otherwise.
    QLabel* conflictLabel = nullptr;
};

/// The Clicker Distributor window and its controls, laid out; what they show and do is the
/// controller's. Every key press meant for the window or one of its controls is offered to
/// `setKeyCaptureDelegate`'s function first (Tab included while `setCapturing` says a capture
/// waits); a press it takes never reaches a control, nor does its release.
class ClickerDistributorWindow : public QWidget {
    Q_OBJECT

public:
    explicit ClickerDistributorWindow(QWidget* parent = nullptr);
    ~ClickerDistributorWindow() override;

    /// Answers whether it consumed the key-down.
    void setKeyCaptureDelegate(std::function<bool(const ClickerKeyDown&)> captureKeyDown);
    /// While true, Tab, Backtab and shortcuts are keys to record, not navigation, and key
    /// presses carry their text.
    void setCapturing(bool capturing) { capturing_ = capturing; }

    /// The controls of a new custom row for the assignment `id` (upper-case UUID text),
    /// appended to the custom list; the caller connects them.
    CustomAssignmentControls addCustomRow(const QString& id);
    void removeCustomRow(const CustomAssignmentControls& controls);
    void scrollToCustomRow(const CustomAssignmentControls& controls);
    /// Tab order: switch, access button, Previous, Next, add, each custom row in `rows`' order,
    /// test, reset.
    void setFocusOrder(const std::vector<CustomAssignmentControls>& rows);

    /// Shows the About popover under the info button, or closes it when it is shown.
    void toggleInformation();
    bool isInformationShown() const;

    ToggleSwitch* masterSwitch = nullptr;
    QLabel* masterValueLabel = nullptr;
    QLabel* masterStatusLabel = nullptr;
    QPushButton* permissionButton = nullptr;
    QToolButton* informationButton = nullptr;
    ClickerKeyRecorderField* previousField = nullptr;
    ClickerKeyRecorderField* nextField = nullptr;
    QPushButton* previousListenButton = nullptr;
    QPushButton* nextListenButton = nullptr;
    /// Under the Previous and Next rows: that another program holds the keystroke.
    QLabel* previousConflictLabel = nullptr;
    QLabel* nextConflictLabel = nullptr;
    QLabel* feedbackLabel = nullptr;
    QPushButton* testButton = nullptr;
    QPushButton* resetButton = nullptr;
    QPushButton* addCustomAssignmentButton = nullptr;
    QLabel* customEmptyLabel = nullptr;
    QScrollArea* customScrollView = nullptr;
    /// Hidden while distribution is off.
    QList<QWidget*> assignmentSectionViews;

signals:
    /// The window lost activation (another window or application came to the front).
    void deactivated();
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildContent();
    QWidget* buildHeader();
    QWidget* buildAssignmentRow(const QString& title, ClickerKeyRecorderField* field,
                                QPushButton* listenButton, QLabel* conflictLabel);
    bool ownsReceiver(QObject* watched) const;

    std::function<bool(const ClickerKeyDown&)> captureKeyDown_;
    bool capturing_ = false;
    QVBoxLayout* customRowsLayout_ = nullptr;
    HelpPopover* informationPopover_ = nullptr;
    /// Native scan codes of consumed presses whose releases are consumed too.
    QSet<quint32> consumedKeys_;
};

/// The recorder's view of a Qt key press: the physical key through the key map, the
/// modifiers as the four application bits, and, `withText`, the layout's unshifted text (which
/// costs a keymap compilation, so only a pending capture asks for it).
ClickerKeyDown clickerKeyDown(const class QKeyEvent& event, bool withText);

}  // namespace kelvra
