// SPDX-License-Identifier: GPL-3.0-or-later

#include "ToolbarRow.h"

#include "DarkTheme.h"
#include "ElidedLabel.h"
#include "WindowActions.h"
#include "model/PathParts.h"
#include "viewmodel/ContentViewModel.h"

#include <QAction>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

QWidget* segmentedChoice(QButtonGroup* group, QWidget* parent) {
    auto* choice = new QWidget(parent);
    choice->setObjectName(QStringLiteral("showChoice"));
    choice->setFixedWidth(210);
    auto* layout = new QHBoxLayout(choice);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const std::vector<ShowFilter> filters = allCases<ShowFilter>();
    for (const ShowFilter filter : filters) {
        auto* segment = new QToolButton(choice);
        if (filter == filters.front())
            segment->setProperty("segment", QStringLiteral("first"));
        if (filter == filters.back())
            segment->setProperty("segment", QStringLiteral("last"));
        segment->setText(rawValue(filter));
        segment->setAccessibleName(QStringLiteral("Show ") + rawValue(filter));
        segment->setAccessibleDescription(
            filter == ShowFilter::all              ? QStringLiteral("List every file found")
            : filter == ShowFilter::fakeStereoOnly ? QStringLiteral("List fake stereo files and "
                                                                    "files that need attention")
                                                   : QStringLiteral("List only the files that "
                                                                    "failed"));
        segment->setFocusPolicy(Qt::StrongFocus);
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(segment, int(filter));
        layout->addWidget(segment);
    }
    // Fusion barely marks a checked tool button on a dark palette, so the
    // segments get a look of their own.
    choice->setStyleSheet(QStringLiteral(
        "QToolButton { color: #ebebeb; background: #333335; border: 1px solid #4a4a4c;"
        " padding: 3px 6px; }"
        "QToolButton:checked { background: #636366; border-color: #6e6e70; }"
        "QToolButton:focus { border: 2px solid #30d158; }"
        "QToolButton[segment=\"first\"] { border-top-left-radius: 5px; border-bottom-left-radius: "
        "5px; }"
        "QToolButton[segment=\"last\"] { border-top-right-radius: 5px; border-bottom-right-radius: "
        "5px; }"));
    return choice;
}

} // namespace

ToolbarRow::ToolbarRow(ContentViewModel& viewModel, const WindowActions& actions, QWidget* parent)
    : QWidget(parent), viewModel(viewModel),
      scanButton(new QPushButton(QStringLiteral("Scan"), this)),
      stopButton(new QPushButton(QStringLiteral("Stop"), this)),
      showButtons(new QButtonGroup(this)), showChoice(segmentedChoice(showButtons, this)),
      folderLabel(new ElidedLabel(this)), search(new QLineEdit(this)) {
    auto* pickButton = new QPushButton(QStringLiteral("Pick Folder"), this);
    pickButton->setObjectName(QStringLiteral("pickFolderButton"));
    scanButton->setObjectName(QStringLiteral("scanButton"));
    makeProminent(scanButton);
    stopButton->setObjectName(QStringLiteral("scanStopButton"));
    tintLabel(stopButton, ThemeColors::destructive());
    // Stop takes no room of its own when it comes: the controls beside it
    // stay where the pointer expects them.
    QSizePolicy keepsPlace = stopButton->sizePolicy();
    keepsPlace.setRetainSizeWhenHidden(true);
    stopButton->setSizePolicy(keepsPlace);
    folderLabel->setObjectName(QStringLiteral("folderLabel"));
    folderLabel->setAccessibleName(QStringLiteral("Scanned folders"));
    folderLabel->setTextColor(ThemeColors::secondaryText());
    search->setObjectName(QStringLiteral("searchField"));
    search->setAccessibleName(QStringLiteral("Search files"));
    search->setPlaceholderText(QStringLiteral("Search"));
    search->setClearButtonEnabled(true);
    search->setFixedWidth(130);
    search->setAcceptDrops(false);
    search->setToolTip(WindowActions::hint(QStringLiteral("Show only files whose name or folder "
                                                          "contains the text"),
                                           actions.find));

    auto* preferencesButton = new QPushButton(QStringLiteral("Preferences…"), this);
    preferencesButton->setObjectName(QStringLiteral("preferencesButton"));

    const auto triggers = [this](QPushButton* button, QAction* action, const QString& tip) {
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        button->setToolTip(WindowActions::hint(tip, action));
    };
    triggers(pickButton, actions.openFolder, QStringLiteral("Choose a folder and scan it"));
    triggers(scanButton, actions.scan, QStringLiteral("Scan the folder again"));
    triggers(stopButton, actions.stop, QStringLiteral("Stop the scan"));
    triggers(preferencesButton, actions.preferences, QStringLiteral("Preferences"));
    connect(showButtons, &QButtonGroup::idClicked, this,
            [this](int id) { this->viewModel.setShowFilter(ShowFilter(id)); });
    connect(search, &QLineEdit::textChanged, this,
            [this](const QString& text) { this->viewModel.setSearchText(text); });
    connect(actions.find, &QAction::triggered, search, [this] {
        search->setFocus(Qt::ShortcutFocusReason);
        search->selectAll();
    });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->addWidget(pickButton);
    layout->addWidget(scanButton);
    layout->addWidget(stopButton);
    layout->addWidget(showChoice);
    layout->addStretch(1);
    layout->addWidget(folderLabel, 0, Qt::AlignVCenter);
    layout->addWidget(search);
    layout->addWidget(preferencesButton);

    // Tab follows the row from left to right.
    setTabOrder(pickButton, scanButton);
    setTabOrder(scanButton, stopButton);
    QWidget* previous = stopButton;
    for (QAbstractButton* segment : showButtons->buttons()) {
        setTabOrder(previous, segment);
        previous = segment;
    }
    setTabOrder(previous, search);
    setTabOrder(search, preferencesButton);
    refresh();
}

void ToolbarRow::refresh() {
    const bool scanning = viewModel.isScanning();
    scanButton->setEnabled(!scanning && viewModel.selectedFolder().has_value());
    stopButton->setVisible(scanning);
    showChoice->setVisible(!viewModel.items().isEmpty() || scanning);
    if (QAbstractButton* current = showButtons->button(int(viewModel.showFilter())))
        current->setChecked(true);

    QString folders = viewModel.scannedFolders().join(QStringLiteral(", "));
    if (folders.isEmpty() && viewModel.selectedFolder())
        folders = lastPathComponent(viewModel.selectedFolder()->toLocalFile());
    folderLabel->setText(folders);
    folderLabel->setVisible(!folders.isEmpty());
}
