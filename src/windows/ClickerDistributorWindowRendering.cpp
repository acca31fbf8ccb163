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
    capturing_ = state.capture.has_value();
    // A recorder field keeps the focus only while its own capture waits: focus left there
    // would start recording again when the window comes back.
    if (auto* field = qobject_cast<ClickerKeyRecorderField*>(focusWidget());
        field &&
        state.capture != ClickerKeyCapture{field->captureTarget(), ClickerKeyCaptureMode::direct}) {
        setFocus(Qt::OtherFocusReason);
    }
    // A disabled switch hands its focus on to the Previous field, which would start recording.
    if (!state.switchUsable && masterSwitch_->hasFocus()) {
        setFocus(Qt::OtherFocusReason);
    }
    masterSwitch_->setChecked(state.switchOn);
    masterSwitch_->setEnabled(state.switchUsable);
    masterValueLabel_->setText(QString::fromStdString(state.switchValue));
    masterStatusLabel_->setText(QString::fromStdString(state.status));
    masterStatusLabel_->setVisible(!state.status.empty());
    ThemeColors::setTextRole(masterStatusLabel_, textRole(state.statusTone));
    permissionButton_->setText(QString::fromStdString(state.accessAction));
    permissionButton_->setVisible(!state.accessAction.empty());
    for (QWidget* view : assignmentSectionViews_) {
        view->setVisible(state.assignmentsShown);
    }

    renderAssignment(previous_, state.previous, state.editable);
    renderAssignment(next_, state.next, state.editable);
    renderCustomRows(state.custom);
    for (size_t index = 0; index < state.custom.size(); ++index) {
        renderAssignment(customRows_[index].second, state.custom[index], state.editable);
    }
    resetButton_->setEnabled(state.editable);
    addCustomAssignmentButton_->setEnabled(state.editable);

    feedbackLabel_->setText(QString::fromStdString(state.feedback));
    feedbackLabel_->setToolTip(QString::fromStdString(state.feedbackToolTip));
    ThemeColors::setTextRole(feedbackLabel_, textRole(state.feedbackTone));
    testButton_->setText(QString::fromStdString(state.testTitle));
    testButton_->setEnabled(state.testUsable);
    rendered_ = true;
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
                                                const ClickerAssignmentRowState& row,
                                                bool editable) {
    controls.field->setDisplayText(QString::fromStdString(row.keyText));
    controls.listenButton->setText(row.listening ? QStringLiteral("Cancel")
                                                 : QStringLiteral("Listen"));
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
