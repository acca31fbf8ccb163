// SPDX-License-Identifier: MIT
#pragma once

#include <utility>
#include <vector>

#include <QPointer>

#include "clicker_window/ClickerDistributorModel.h"
#include "windows/widgets/AppWindow.h"

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
/// person does to the model. A recorder field takes the keys of its own capture; a key no
/// control took (Escape during an input test, say) is offered to the model before the window
/// acts on it.
class ClickerDistributorWindow : public AppWindow {
    Q_OBJECT

public:
    /// Observes `model`, which must outlive the window.
    explicit ClickerDistributorWindow(ClickerDistributorModel& model, QWidget* parent = nullptr);
    ~ClickerDistributorWindow() override;

    /// Shows the About popover under the info button, or closes it when it is shown.
    void toggleInformation();
    bool isInformationShown() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
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
    /// Tab order: help, switch, access button, Previous, Next, add, each custom row, test,
    /// reset.
    void setFocusOrder();
    const AssignmentControls* controlsFor(const ClickerMappingTarget& target) const;

    void render(const ClickerDistributorWindowState& state);
    void renderCustomRows(const std::vector<ClickerAssignmentRowState>& rows);
    void renderAssignment(const AssignmentControls& controls, const ClickerAssignmentRowState& row,
                          bool editable, const QString& name);
    void renderCapture(const std::optional<ClickerKeyCapture>& capture);
    void renderSwitch(const ClickerDistributorWindowState& state);

    ClickerDistributorModel& model_;
    bool rendered_ = false;
    std::optional<ClickerKeyCapture> shownCapture_;
    /// The switch while its request keeps it disabled, if it had the focus: it gets it back.
    QPointer<QWidget> focusAwaitingSwitch_;
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
};

}  // namespace kelvra
