// SPDX-License-Identifier: MIT
#include "windows/ClickerDistributorWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "clicker/ClickerInputConfiguration.h"
#include "windows/widgets/ClickerKeyRecorderField.h"
#include "windows/widgets/Fonts.h"
#include "windows/widgets/HelpPopover.h"
#include "windows/widgets/Separator.h"
#include "windows/widgets/SymbolButton.h"
#include "windows/widgets/ThemeColors.h"
#include "windows/widgets/ToggleSwitch.h"

namespace kelvra {
namespace {

QLabel* makeWrappingLabel(const QString& text, int pixelSize, ThemeColors::Role role) {
    auto* label = makeLabel(text, pixelSize);
    label->setWordWrap(true);
    ThemeColors::setTextRole(label, role);
    return label;
}

Separator* makeSeparator(const QString& identifier) {
    auto* separator = new Separator;
    separator->setObjectName(identifier);
    return separator;
}

/// Named by each rendering, after its title and its row.
QPushButton* makeListenButton(const QString& identifier, int minimumWidth) {
    auto* button = new QPushButton(QStringLiteral("Listen"));
    button->setObjectName(identifier);
    button->setMinimumWidth(minimumWidth);
    button->setAutoDefault(false);
    return button;
}

QPushButton* makePushButton(const QString& title, const QString& identifier) {
    auto* button = new QPushButton(title);
    button->setObjectName(identifier);
    button->setAutoDefault(false);
    // Room around the title, as desktop push buttons have; the compact styles leave almost none.
    button->setMinimumWidth(button->sizeHint().width() + 16);
    return button;
}

/// A note under an assignment row, hidden until another program holds its keystroke.
QLabel* makeConflictLabel(const QString& identifier) {
    auto* label = makeWrappingLabel(QString(), 11, ThemeColors::Role::orange);
    label->setObjectName(identifier);
    label->hide();
    return label;
}

SymbolButton* makeSymbolButton(Symbol symbol, int side, int glyph, const QString& identifier,
                               const QString& label) {
    auto* button = new SymbolButton(symbol, ThemeColors::Role::secondaryLabel, QSize(side, side),
                                    QSize(glyph, glyph));
    button->setObjectName(identifier);
    button->setToolTip(label);
    button->setAccessibleName(label);
    return button;
}

QStringList informationParagraphs() {
    return {
        QStringLiteral("When Clicker Distributor is on, Kelvra Hub reserves assigned keystrokes "
                       "and sends one matching command to every eligible Presentation-group "
                       "member, including Kelvra on this computer."),
        QStringLiteral("Every keyboard connected to this computer is affected. Assigned "
                       "keystrokes do not reach the foreground app; unassigned keystrokes "
                       "remain untouched. Turning Clicker Distributor off removes the global "
                       "listener while preserving your group choices and assignments."),
        QStringLiteral("Keyboard access lets Kelvra Hub control assigned keystrokes. It is "
                       "granted to whoever is signed in at this computer, for keyboards and "
                       "virtual input devices. If access was denied, follow the Keyboard "
                       "Access help, then return to this window. Secure login and "
                       "lock-screen input are outside supported behavior.")};
}

}  // namespace

ClickerDistributorWindow::ClickerDistributorWindow(ClickerDistributorModel& model, QWidget* parent)
    : AppWindow(parent), model_(model) {
    setObjectName(QStringLiteral("clickerDistributorWindow"));
    setWindowTitle(QStringLiteral("Clicker Distributor"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFocusPolicy(Qt::ClickFocus);
    buildContent();
    setFocusOrder();
    setFixedSize(530, 730);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    connect(masterSwitch_, &ToggleSwitch::clicked, this,
            [this](bool requested) { model_.switchDistribution(requested); });
    connect(permissionButton_, &QPushButton::clicked, this, [this] { model_.requestAccess(); });
    connect(informationButton_, &QToolButton::clicked, this,
            &ClickerDistributorWindow::toggleInformation);
    connect(testButton_, &QPushButton::clicked, this, [this] { model_.toggleTest(); });
    connect(resetButton_, &QPushButton::clicked, this, [this] { model_.resetToDefaults(); });
    connect(addCustomAssignmentButton_, &QPushButton::clicked, this,
            [this] { model_.addCustomAssignment(); });
    connectAssignment(previous_, ClickerMappingAction::previous);
    connectAssignment(next_, ClickerMappingAction::next);
    model_.observe([this](const ClickerDistributorWindowState& state) { render(state); });
}

ClickerDistributorWindow::~ClickerDistributorWindow() {
    model_.observe({});
    // A focused recorder field reports losing the focus while the window is half destroyed.
    for (QObject* control : findChildren<QObject*>()) {
        QObject::disconnect(control, nullptr, this, nullptr);
    }
}

void ClickerDistributorWindow::connectAssignment(const AssignmentControls& controls,
                                                 const ClickerMappingTarget& target) {
    connect(controls.field, &ClickerKeyRecorderField::recordRequested, this,
            [this](const ClickerMappingTarget& requested) { model_.beginRecording(requested); });
    connect(controls.field, &ClickerKeyRecorderField::focusLost, this,
            [this](const ClickerMappingTarget& left) { model_.endRecording(left); });
    connect(controls.field, &ClickerKeyRecorderField::keyPressed, this,
            [this](const ClickerKeyDown& keyDown) { model_.keyDown(keyDown); });
    connect(controls.listenButton, &QPushButton::clicked, this,
            [this, target] { model_.listen(target); });
    if (const auto* id = std::get_if<Uuid>(&target)) {
        connect(controls.deleteButton, &QToolButton::clicked, this,
                [this, id = *id] { model_.deleteCustomAssignment(id); });
        connect(controls.commandPopup, &QComboBox::activated, this, [this, id = *id](int index) {
            const auto& actions = allClickerCustomActions;
            model_.chooseAction(id, index >= 1 && index <= static_cast<int>(actions.size())
                                        ? std::optional(actions[static_cast<size_t>(index - 1)])
                                        : std::nullopt);
        });
    }
}

void ClickerDistributorWindow::buildContent() {
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(24, 20, 24, 20);
    content->setSpacing(10);
    content->setAlignment(Qt::AlignTop);

    content->addWidget(buildHeader());
    auto* subtitle = makeWrappingLabel(
        QStringLiteral("Use your clicker to move through slides and animation steps in the current "
                       "presentation. Commands go to Presentation groups that have Clicker "
                       "Distributor turned on."),
        13, ThemeColors::Role::secondaryLabel);
    content->addWidget(subtitle);

    auto* masterRow = new QHBoxLayout;
    masterRow->setSpacing(10);
    masterSwitch_ = new ToggleSwitch;
    masterSwitch_->setObjectName(QStringLiteral("clickerDistributorMasterSwitch"));
    masterSwitch_->setAccessibleName(QStringLiteral("Clicker Distributor"));
    masterValueLabel_ = makeLabel(QStringLiteral("Off"), 13, QFont::Medium);
    masterValueLabel_->setObjectName(QStringLiteral("clickerDistributorState"));
    // A status label's accessible name is its text, so a screen reader hears what it shows
    // and each change; what the label is goes into its description.
    masterValueLabel_->setAccessibleDescription(QStringLiteral("Clicker Distributor state"));
    masterRow->addWidget(masterSwitch_);
    masterRow->addWidget(masterValueLabel_);
    masterRow->addStretch();
    content->addLayout(masterRow);

    masterStatusLabel_ =
        makeWrappingLabel(QStringLiteral("Off — Kelvra Hub is not monitoring keyboard input."), 11,
                          ThemeColors::Role::secondaryLabel);
    masterStatusLabel_->setObjectName(QStringLiteral("clickerDistributorRuntimeStatus"));
    masterStatusLabel_->setAccessibleDescription(QStringLiteral("Clicker Distributor status"));
    content->addWidget(masterStatusLabel_);

    permissionButton_ = makePushButton(QStringLiteral("Request Keyboard Access"),
                                       QStringLiteral("clickerPermissionAction"));
    setFontSize(permissionButton_, 11);
    auto* permissionRow = new QHBoxLayout;
    permissionRow->addWidget(permissionButton_);
    permissionRow->addStretch();
    content->addLayout(permissionRow);

    content->addWidget(makeSeparator(QStringLiteral("clickerDistributorMasterDivider")));

    auto* sectionTitle = makeLabel(QStringLiteral("Keystroke assignments"), 19, QFont::Bold);
    auto* sectionHelp = makeWrappingLabel(
        QStringLiteral("Click a key field or choose Listen, then press the desired keyboard key or "
                       "presentation clicker button. Press Escape to cancel."),
        13, ThemeColors::Role::secondaryLabel);

    previous_.field = new ClickerKeyRecorderField(ClickerMappingAction::previous,
                                                  QStringLiteral("Previous slide"), 180);
    previous_.field->setObjectName(QStringLiteral("previousKeyField"));
    next_.field =
        new ClickerKeyRecorderField(ClickerMappingAction::next, QStringLiteral("Next slide"), 180);
    next_.field->setObjectName(QStringLiteral("nextKeyField"));
    previous_.listenButton = makeListenButton(QStringLiteral("previousListenButton"), 78);
    next_.listenButton = makeListenButton(QStringLiteral("nextListenButton"), 78);
    previous_.conflictLabel = makeConflictLabel(QStringLiteral("previousKeyConflict"));
    next_.conflictLabel = makeConflictLabel(QStringLiteral("nextKeyConflict"));
    auto* previousRow = buildAssignmentRow(QStringLiteral("Previous slide"), previous_);
    auto* nextRow = buildAssignmentRow(QStringLiteral("Next slide"), next_);

    feedbackLabel_ = makeWrappingLabel(QString(), 11, ThemeColors::Role::secondaryLabel);
    feedbackLabel_->setObjectName(QStringLiteral("clickerMappingFeedback"));
    feedbackLabel_->setAccessibleDescription(QStringLiteral("Keystroke assignment status"));
    feedbackLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    feedbackLabel_->setMinimumHeight(32);
    feedbackLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* resetRow = new QWidget;
    resetRow->setObjectName(QStringLiteral("resetDefaultsRow"));
    auto* resetLayout = new QHBoxLayout(resetRow);
    resetLayout->setContentsMargins(0, 0, 0, 0);
    testButton_ = makePushButton(QStringLiteral("Test Assigned Keys"),
                                 QStringLiteral("testAssignedClickerKeys"));
    testButton_->setAccessibleDescription(
        QStringLiteral("Consumes one assigned Previous slide or Next slide keystroke without "
                       "sending it to Presentation groups."));
    resetButton_ =
        makePushButton(QStringLiteral("Reset to Defaults"), QStringLiteral("resetClickerMappings"));
    resetButton_->setAccessibleDescription(
        QStringLiteral("Sets only Previous slide to Page Up and Next slide to Page Down."));
    resetLayout->addWidget(testButton_);
    resetLayout->addWidget(resetButton_);
    resetLayout->addStretch();

    auto* customHeader = new QWidget;
    auto* customHeaderLayout = new QHBoxLayout(customHeader);
    customHeaderLayout->setContentsMargins(0, 0, 0, 0);
    customHeaderLayout->addWidget(makeLabel(QStringLiteral("Custom assignments"), 16, QFont::Bold));
    addCustomAssignmentButton_ =
        makePushButton(QStringLiteral("+"), QStringLiteral("addCustomAssignment"));
    addCustomAssignmentButton_->setFixedWidth(30);
    addCustomAssignmentButton_->setToolTip(QStringLiteral("Add custom assignment"));
    addCustomAssignmentButton_->setAccessibleName(QStringLiteral("Add custom assignment"));
    addCustomAssignmentButton_->setAccessibleDescription(
        QStringLiteral("Adds another keystroke and Kelvra command assignment."));
    customHeaderLayout->addWidget(addCustomAssignmentButton_);
    customHeaderLayout->addStretch();

    auto* customHelp = makeWrappingLabel(
        QStringLiteral("Choose a Kelvra action, then record the keystroke or clicker button that "
                       "should trigger it."),
        11, ThemeColors::Role::secondaryLabel);

    customScrollView_ = new QScrollArea;
    customScrollView_->setObjectName(QStringLiteral("customAssignmentsScrollView"));
    customScrollView_->setFrameShape(QFrame::NoFrame);
    customScrollView_->setWidgetResizable(true);
    customScrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    customScrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // At least the rows' usual 130, and whatever the fixed-size window leaves below them.
    customScrollView_->setMinimumHeight(130);
    customScrollView_->setFocusPolicy(Qt::NoFocus);
    auto* rowsStack = new QWidget;
    rowsStack->setAutoFillBackground(false);
    customScrollView_->viewport()->setAutoFillBackground(false);
    customRowsLayout_ = new QVBoxLayout(rowsStack);
    // Top and bottom insets only, so the rows line up with the columns above.
    customRowsLayout_->setContentsMargins(0, 4, 0, 4);
    customRowsLayout_->setSpacing(0);
    customRowsLayout_->setAlignment(Qt::AlignTop);
    customEmptyLabel_ =
        makeWrappingLabel(QStringLiteral("No custom assignments yet. Choose + to add one."), 13,
                          ThemeColors::Role::tertiaryLabel);
    customEmptyLabel_->setObjectName(QStringLiteral("customAssignmentsEmpty"));
    customEmptyLabel_->setAlignment(Qt::AlignCenter);
    customEmptyLabel_->setAccessibleDescription(QStringLiteral("No custom assignments"));
    customRowsLayout_->addWidget(customEmptyLabel_);
    customScrollView_->setWidget(rowsStack);

    const auto separator = makeSeparator(QStringLiteral("customAssignmentsDivider"));
    assignmentSectionViews_ = {sectionTitle,   sectionHelp,      previousRow, nextRow,
                               feedbackLabel_, resetRow,         separator,   customHeader,
                               customHelp,     customScrollView_};
    for (QWidget* view : assignmentSectionViews_) {
        content->addWidget(view, view == customScrollView_ ? 1 : 0);
    }
    // Takes the space while the assignments are hidden, so the rest stays at the top.
    content->addStretch(0);
}

QWidget* ClickerDistributorWindow::buildHeader() {
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeLabel(QStringLiteral("Clicker Distributor"), 19, QFont::Bold));
    informationButton_ =
        makeSymbolButton(Symbol::info, 20, 16, QStringLiteral("clickerDistributorInformation"),
                         QStringLiteral("About Clicker Distributor"));
    // Heard with the button, as the settings window's help is, without opening the popover.
    informationButton_->setAccessibleDescription(informationParagraphs().join(u' '));
    layout->addWidget(informationButton_);
    layout->addStretch();
    return header;
}

QWidget* ClickerDistributorWindow::buildAssignmentRow(const QString& title,
                                                      AssignmentControls& controls) {
    auto* row = new QWidget;
    controls.row = row;
    auto* rows = new QVBoxLayout(row);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    auto* layout = new QHBoxLayout;
    layout->setSpacing(8);
    auto* label = makeLabel(title, 15);
    label->setFixedWidth(110);
    layout->addWidget(label);
    layout->addWidget(controls.field);
    layout->addWidget(controls.listenButton);
    layout->addStretch();
    rows->addLayout(layout);
    // Under the field, past the title column.
    controls.conflictLabel->setContentsMargins(118, 0, 0, 0);
    rows->addWidget(controls.conflictLabel);
    return row;
}

ClickerDistributorWindow::AssignmentControls ClickerDistributorWindow::addCustomRow(
    const Uuid& uuid) {
    const QString id = QString::fromStdString(uuid.string());
    AssignmentControls controls;
    controls.row = new QWidget;
    controls.row->setObjectName(QStringLiteral("customAssignmentRow-") + id);
    auto* rows = new QVBoxLayout(controls.row);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(2);
    auto* layout = new QHBoxLayout;
    layout->setSpacing(8);

    controls.commandPopup = new QComboBox;
    controls.commandPopup->setObjectName(QStringLiteral("customCommandPopup-") + id);
    // Wide enough for "Choose Kelvra action…" in the common desktop fonts.
    controls.commandPopup->setFixedWidth(176);
    controls.commandPopup->setAccessibleName(QStringLiteral("Kelvra action for custom assignment"));
    controls.commandPopup->setAccessibleDescription(
        QStringLiteral("Selects the Kelvra action sent when this key is detected."));
    controls.commandPopup->addItem(QStringLiteral("Choose Kelvra action…"));
    for (const ClickerCustomAction action : allClickerCustomActions) {
        const std::string_view name = displayName(action);
        controls.commandPopup->addItem(
            QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }

    controls.field = new ClickerKeyRecorderField(uuid, QStringLiteral("custom assignment"), 128);
    controls.field->setObjectName(QStringLiteral("customKeyField-") + id);
    controls.listenButton = makeListenButton(QStringLiteral("customListenButton-") + id, 66);
    controls.deleteButton =
        makeSymbolButton(Symbol::trash, 26, 16, QStringLiteral("deleteCustomAssignment-") + id,
                         QStringLiteral("Delete custom assignment"));

    layout->addWidget(controls.commandPopup);
    layout->addWidget(controls.field);
    layout->addWidget(controls.listenButton);
    layout->addWidget(controls.deleteButton);
    layout->addStretch();
    rows->addLayout(layout);
    controls.conflictLabel = makeConflictLabel(QStringLiteral("customKeyConflict-") + id);
    rows->addWidget(controls.conflictLabel);
    customRowsLayout_->addWidget(controls.row);
    // Shown now rather than on the next turn of the event loop, so focus and scrolling see it.
    controls.row->show();
    connectAssignment(controls, uuid);
    return controls;
}

void ClickerDistributorWindow::removeCustomRow(const AssignmentControls& controls) {
    customRowsLayout_->removeWidget(controls.row);
    // Deleted later: the row's own delete button is still delivering the click that got here.
    controls.row->hide();
    controls.row->deleteLater();
}

void ClickerDistributorWindow::setFocusOrder() {
    std::vector<QWidget*> order = {
        informationButton_,     masterSwitch_, permissionButton_,  previous_.field,
        previous_.listenButton, next_.field,   next_.listenButton, addCustomAssignmentButton_};
    for (const auto& [id, row] : customRows_) {
        order.insert(order.end(),
                     {row.commandPopup, row.field, row.listenButton, row.deleteButton});
    }
    order.insert(order.end(), {testButton_, resetButton_});
    for (size_t index = 1; index < order.size(); ++index) {
        QWidget::setTabOrder(order[index - 1], order[index]);
    }
}

void ClickerDistributorWindow::toggleInformation() {
    if (!informationPopover_) {
        // 390 wide with 16 around the text.
        informationPopover_ = new HelpPopover(this, 358, 16);
    }
    informationPopover_->toggle(informationButton_, QStringLiteral("Clicker Distributor"),
                                informationParagraphs());
}

bool ClickerDistributorWindow::isInformationShown() const {
    return informationPopover_ && informationPopover_->anchor() != nullptr;
}

void ClickerDistributorWindow::keyPressEvent(QKeyEvent* event) {
    if (model_.keyDown(clickerKeyDown(*event, model_.state().capture.has_value()))) {
        return;
    }
    AppWindow::keyPressEvent(event);
}

bool ClickerDistributorWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate) {
        model_.dismissCapture();
    }
    return QWidget::event(event);
}

void ClickerDistributorWindow::closeEvent(QCloseEvent* event) {
    model_.close();
    QWidget::closeEvent(event);
}

}  // namespace kelvra
