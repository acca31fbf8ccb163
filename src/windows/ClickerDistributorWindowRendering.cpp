// SPDX-License-Identifier: MIT
// How the Clicker Distributor window shows its model's state.
#include <algorithm>
#include <iterator>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "windows/ClickerDistributorWindow.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/ThemeColors.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

ThemeColors::Role textRole(ClickerTextTone tone) {
    switch (tone) {
        case ClickerTextTone::secondary:
            return ThemeColors::Role::secondaryLabel;
        case ClickerTextTone::orange:
            return ThemeColors::Role::orange;
        case ClickerTextTone::red:
            return ThemeColors::Role::red;
        case ClickerTextTone::green:
            return ThemeColors::Role::green;
    }
    return ThemeColors::Role::secondaryLabel;
}

}  // namespace

void ClickerDistributorWindow::render(const ClickerDistributorWindowState& state) {
    renderSwitch(state);
    masterValueLabel_->setText(QString::fromStdString(state.switchValue));
    masterStatusLabel_->setText(QString::fromStdString(state.status));
    masterStatusLabel_->setVisible(!state.status.empty());
    ThemeColors::setTextRole(masterStatusLabel_, textRole(state.statusTone));
    permissionButton_->setText(QString::fromStdString(state.accessAction));
    permissionButton_->setVisible(!state.accessAction.empty());
    for (QWidget* view : assignmentSectionViews_) {
        view->setVisible(state.assignmentsShown);
    }

    renderAssignment(previous_, state.previous, state.editable, QStringLiteral("Previous slide"));
    renderAssignment(next_, state.next, state.editable, QStringLiteral("Next slide"));
    renderCustomRows(state.custom);
    for (size_t index = 0; index < state.custom.size(); ++index) {
        const ClickerAssignmentRowState& row = state.custom[index];
        // Each row by its action, so a screen reader tells the rows apart.
        QString name = QStringLiteral("custom assignment %1").arg(index + 1);
        if (row.action) {
            const std::string_view action = displayName(*row.action);
            name = QString::fromUtf8(action.data(), static_cast<qsizetype>(action.size()));
        }
        renderAssignment(customRows_[index].second, row, state.editable, name);
    }
    renderCapture(state.capture);
    resetButton_->setEnabled(state.editable);
    addCustomAssignmentButton_->setEnabled(state.editable);

    feedbackLabel_->setText(QString::fromStdString(state.feedback));
    feedbackLabel_->setToolTip(QString::fromStdString(state.feedbackToolTip));
    ThemeColors::setTextRole(feedbackLabel_, textRole(state.feedbackTone));
    testButton_->setText(QString::fromStdString(state.testTitle));
    testButton_->setEnabled(state.testUsable);
    rendered_ = true;
}

void ClickerDistributorWindow::renderSwitch(const ClickerDistributorWindowState& state) {
    // Disabling the focused switch while its request runs would send the focus on to the next
    // control, where the next key would act: the window holds it meanwhile, and the switch
    // gets it back unless the person moved it.
    if (!state.switchUsable && masterSwitch_->hasFocus()) {
        focusAwaitingSwitch_ = masterSwitch_;
        setFocus(Qt::OtherFocusReason);
    }
    masterSwitch_->setChecked(state.switchOn);
    masterSwitch_->setEnabled(state.switchUsable);
    if (state.switchUsable && focusAwaitingSwitch_) {
        if (focusWidget() == this || focusWidget() == nullptr) {
            masterSwitch_->setFocus(Qt::OtherFocusReason);
        }
        focusAwaitingSwitch_ = nullptr;
    }
}

void ClickerDistributorWindow::renderCapture(const std::optional<ClickerKeyCapture>& capture) {
    for (const AssignmentControls* controls : {&previous_, &next_}) {
        controls->field->setRecording(capture &&
                                      capture->action == controls->field->captureTarget());
    }
    for (const auto& [id, controls] : customRows_) {
        controls.field->setRecording(capture && capture->action == ClickerMappingTarget(id));
    }
    if (capture == shownCapture_) {
        return;
    }
    // A Listen button's wait takes its keys in the field and, once over, gives the focus back
    // to the button.
    if (shownCapture_ && shownCapture_->mode == ClickerKeyCaptureMode::listening) {
        if (const AssignmentControls* ended = controlsFor(shownCapture_->action);
            ended && ended->field->hasFocus()) {
            ended->listenButton->setFocus(Qt::OtherFocusReason);
        }
    }
    if (capture && capture->mode == ClickerKeyCaptureMode::listening) {
        if (const AssignmentControls* started = controlsFor(capture->action)) {
            started->field->setFocus(Qt::OtherFocusReason);
        }
    }
    shownCapture_ = capture;
}

const ClickerDistributorWindow::AssignmentControls* ClickerDistributorWindow::controlsFor(
    const ClickerMappingTarget& target) const {
    if (target == ClickerMappingTarget(ClickerMappingAction::previous)) {
        return &previous_;
    }
    if (target == ClickerMappingTarget(ClickerMappingAction::next)) {
        return &next_;
    }
    const auto* id = std::get_if<Uuid>(&target);
    const auto found =
        id ? std::ranges::find(customRows_, *id, &CustomRow::first) : customRows_.end();
    return found != customRows_.end() ? &found->second : nullptr;
}

void ClickerDistributorWindow::renderCustomRows(
    const std::vector<ClickerAssignmentRowState>& rows) {
    std::vector<Uuid> ids;
    std::ranges::transform(rows, std::back_inserter(ids),
                           [](const auto& row) { return std::get<Uuid>(row.target); });
    if (std::ranges::equal(ids, customRows_, {}, {}, &CustomRow::first)) {
        return;
    }
    std::vector<CustomRow> shown = std::move(customRows_);
    customRows_.clear();
    const AssignmentControls* added = nullptr;
    for (const Uuid& id : ids) {
        const auto found = std::ranges::find(shown, id, &CustomRow::first);
        if (found != shown.end()) {
            customRows_.push_back(*found);
            shown.erase(found);
        } else {
            customRows_.emplace_back(id, addCustomRow(id));
            added = &customRows_.back().second;
        }
        // After the empty label, in the model's order.
        customRowsLayout_->removeWidget(customRows_.back().second.row);
        customRowsLayout_->addWidget(customRows_.back().second.row);
    }
    for (const auto& [id, controls] : shown) {
        removeCustomRow(controls);
    }
    customEmptyLabel_->setVisible(customRows_.empty());
    setFocusOrder();
    if (added && rendered_) {
        customScrollView_->widget()->adjustSize();
        customScrollView_->ensureWidgetVisible(added->row, 0, 4);
    }
}

void ClickerDistributorWindow::renderAssignment(const AssignmentControls& controls,
                                                const ClickerAssignmentRowState& row, bool editable,
                                                const QString& name) {
    controls.field->setDisplayText(QString::fromStdString(row.keyText));
    controls.field->setAssignmentName(name);
    controls.listenButton->setText(row.listening ? QStringLiteral("Cancel")
                                                 : QStringLiteral("Listen"));
    // The name starts with what the button shows, so a screen reader says what it does now.
    const QString listenName = (row.listening ? QStringLiteral("Cancel listening for %1 key")
                                              : QStringLiteral("Listen for %1 key"))
                                   .arg(name);
    if (controls.listenButton->accessibleName() != listenName) {
        controls.listenButton->setAccessibleName(listenName);
        controls.listenButton->setAccessibleDescription(
            QStringLiteral("Capture the next keyboard key or clicker button for %1.").arg(name));
    }
    controls.conflictLabel->setText(QString::fromStdString(row.conflict));
    controls.conflictLabel->setVisible(!row.conflict.empty());
    if (controls.commandPopup) {
        controls.commandPopup->setCurrentIndex(row.action ? static_cast<int>(*row.action) + 1 : 0);
    }
    for (QWidget* control :
         {static_cast<QWidget*>(controls.commandPopup), static_cast<QWidget*>(controls.field),
          static_cast<QWidget*>(controls.listenButton),
          static_cast<QWidget*>(controls.deleteButton)}) {
        if (control) {
            control->setEnabled(editable);
        }
    }
}

}  // namespace kelvra
