// SPDX-License-Identifier: MIT
#pragma once

#include <utility>
#include <vector>

#include <QSet>
#include <QWidget>

#include "clicker_window/ClickerDistributorModel.h"

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

/// The Clicker Distributor window: shows each state its model publishes and reports what the
/// person does to the model. Every key press meant for the window or one of its controls is
/// offered to the model first (Tab included while a capture waits); a press it takes never
/// reaches a control, nor does its release.
class ClickerDistributorWindow : public QWidget {
    Q_OBJECT

public:
    /// Observes `model`, which must outlive the window.
    explicit ClickerDistributorWindow(ClickerDistributorModel& model, QWidget* parent = nullptr);
    ~ClickerDistributorWindow() override;

    /// Shows the About popover under the info button, or closes it when it is shown.
    void toggleInformation();
    bool isInformationShown() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    /// The controls of one assignment row; Previous and Next have no popup and no delete.
    struct AssignmentControls {
        QWidget* row = nullptr;
        QComboBox* commandPopup = nullptr;
        ClickerKeyRecorderField* field = nullptr;
        QPushButton* listenButton = nullptr;
        QToolButton* deleteButton = nullptr;
        /// Under the row: that another program holds its keystroke; hidden otherwise.
        QLabel* conflictLabel = nullptr;
    };

    void buildContent();
    QWidget* buildHeader();
    QWidget* buildAssignmentRow(const QString& title, AssignmentControls& controls);
    void connectAssignment(const AssignmentControls& controls, const ClickerMappingTarget& target);
    AssignmentControls addCustomRow(const Uuid& id);
    void removeCustomRow(const AssignmentControls& controls);
    /// Tab order: switch, access button, Previous, Next, add, each custom row, test, reset.
    void setFocusOrder();
    bool ownsReceiver(QObject* watched) const;

    void render(const ClickerDistributorWindowState& state);
    void renderCustomRows(const std::vector<ClickerAssignmentRowState>& rows);
    void renderAssignment(const AssignmentControls& controls, const ClickerAssignmentRowState& row,
                          bool editable);

    ClickerDistributorModel& model_;
    bool capturing_ = false;
    bool rendered_ = false;
    ToggleSwitch* masterSwitch_ = nullptr;
    QLabel* masterValueLabel_ = nullptr;
    QLabel* masterStatusLabel_ = nullptr;
    QPushButton* permissionButton_ = nullptr;
    QToolButton* informationButton_ = nullptr;
    AssignmentControls previous_;
    AssignmentControls next_;
    QLabel* feedbackLabel_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* addCustomAssignmentButton_ = nullptr;
    QLabel* customEmptyLabel_ = nullptr;
    QScrollArea* customScrollView_ = nullptr;
    /// Hidden while distribution is off.
    QList<QWidget*> assignmentSectionViews_;
    QVBoxLayout* customRowsLayout_ = nullptr;
    using CustomRow = std::pair<Uuid, AssignmentControls>;
    /// The custom rows in the order shown.
    std::vector<CustomRow> customRows_;
    HelpPopover* informationPopover_ = nullptr;
    /// Native scan codes of consumed presses whose releases are consumed too.
    QSet<quint32> consumedKeys_;
};

/// The recorder's view of a Qt key press: the physical key through the key map, the
/// modifiers as the four application bits, and, `withText`, the layout's unshifted text (which
/// costs a keymap compilation, so only a pending capture asks for it).
ClickerKeyDown clickerKeyDown(const class QKeyEvent& event, bool withText);

}  // namespace kelvra
