// SPDX-License-Identifier: GPL-3.0-or-later

// Renders the pictures of the README offscreen from the real window: the
// drop zone, a scanned folder, the question before originals are replaced, a
// conversion in progress, the finished run's banner, the Info Log, the
// Preferences, the Edit menu and the rows' menu. The audio is made on the spot
// with ffmpeg, and HOME points at a temporary folder, so nothing of the
// user's is touched.
//
//     render_screenshots <output folder>

#include "CompletionBanner.h"
#include "DarkTheme.h"
#include "FileTable.h"
#include "FileTableModel.h"
#include "InfoLogSheet.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"
#include "WindowActions.h"
#include "exec/ChildProcess.h"
#include "exec/FFmpegLocator.h"
#include "model/Settings.h"
#include "viewmodel/ContentViewModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

namespace {

struct Sample {
    const char* name;
    QStringList channels; // one aevalsrc expression per channel
    double seconds;
};

QString sine(int hertz) {
    return QStringLiteral("0.4*sin(%1*2*PI*t)").arg(hertz);
}

bool makeAudio(const QString& ffmpeg, const QString& path, const Sample& sample) {
    ChildProcess process;
    const QString source = QStringLiteral("aevalsrc=%1:s=44100:d=%2")
                               .arg(sample.channels.join(QLatin1Char('|')))
                               .arg(sample.seconds);
    if (process.start(ffmpeg,
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                       QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), source,
                       path},
                      ChildProcess::Output::nullDevice(), ChildProcess::Output::nullDevice()))
        return false;
    return process.waitForExit() == 0;
}

bool makeLibrary(const QString& ffmpeg, const QString& folder) {
    const QList<Sample> samples{
        {"Kick 01.wav", {sine(55), sine(55)}, 20},
        {"Snare Room.wav", {sine(180), sine(180)}, 20},
        {"Vocal Take 3.flac", {sine(220), sine(220)}, 20},
        {"Field Recording - Harbour.aiff", {sine(140), sine(140)}, 20},
        {"Pad Wide.wav", {sine(330), sine(495)}, 4},
        {"Piano Stereo.flac", {sine(262), sine(392)}, 4},
        {"Interview Mic.wav", {sine(200)}, 4},
        {"Bass DI.flac", {sine(82)}, 4},
        {"Loop 120bpm.mp3", {sine(440), sine(660)}, 4},
    };
    for (const Sample& sample : samples) {
        if (!makeAudio(ffmpeg, folder + QLatin1Char('/') + QString::fromUtf8(sample.name), sample))
            return false;
    }
    QFile broken(folder + QStringLiteral("/Corrupted Export.ogg"));
    return broken.open(QIODevice::WriteOnly) && broken.write("not an ogg stream") > 0;
}

// Runs `then` once `ready` holds, checking every few milliseconds from the
// event loop.
void whenReady(std::function<bool()> ready, std::function<void()> then) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, ready, then] {
        if (!ready())
            return;
        poll->deleteLater();
        then();
    });
    poll->start();
}

void save(const QPixmap& picture, const QString& path) {
    if (!picture.save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// The window as the next paint would show it: layouts still waiting for the
// event loop are applied first.
QPixmap settled(QWidget& window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return window.grab();
}

// A sheet is a window of its own; drawn over the window's top centre as the
// desktop shows it.
QPixmap withSheet(MainWindow& window, QWidget* sheet) {
    QPixmap picture = settled(window);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 90));
    const QPixmap sheetPicture = sheet->grab();
    painter.drawPixmap((window.width() - sheet->width()) / 2, 0, sheetPicture);
    return picture;
}

// A pop-up menu is a window of its own too; drawn where it opened.
QPixmap withPopup(MainWindow& window, QMenu* menu) {
    QPixmap picture = settled(window);
    QPainter painter(&picture);
    painter.drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
    return picture;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_screenshots <output folder>\n");
        return 2;
    }
    QTemporaryDir home;
    const QByteArray homePath = QFile::encodeName(home.path());
    qputenv("HOME", homePath);
    qputenv("XDG_CONFIG_HOME", homePath + "/config");
    qputenv("XDG_DATA_HOME", homePath + "/data");
    qputenv("XDG_CACHE_HOME", homePath + "/cache");
    qputenv("XDG_STATE_HOME", homePath + "/state");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C");

    QApplication app(argc, argv);
    applyDarkTheme(app);
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(output);

    const std::optional<QString> ffmpeg = FFmpegLocator::ffmpegPath();
    const QString library = home.filePath(QStringLiteral("Sample Library"));
    QDir().mkpath(library);
    if (!ffmpeg || !makeLibrary(*ffmpeg, library)) {
        std::fprintf(stderr, "render_screenshots needs a working ffmpeg\n");
        return 1;
    }
    Settings::shared().setConvertBehavior(ConvertBehavior::backup);

    MainWindow window;
    window.resize(1000, 660);
    window.show();
    ContentViewModel& viewModel = window.viewModel();

    QTimer::singleShot(100, &window, [&] {
        save(settled(window), output + QStringLiteral("/drop-zone.png"));
        viewModel.handleDrop({QUrl::fromLocalFile(library + QLatin1Char('/'))});
    });

    whenReady(
        [&] {
            return !viewModel.items().isEmpty() && !viewModel.isScanning() &&
                   !viewModel.showConfetti();
        },
        [&] {
            viewModel.setShowFilter(ShowFilter::all);
            // Rows follow a change within a tenth of a second; wait past that.
            QTimer::singleShot(500, &window, [&] {
                save(settled(window), output + QStringLiteral("/scanned-list.png"));
                // The question before originals are replaced, answered No.
                Settings::shared().setConvertBehavior(ConvertBehavior::overwrite);
                auto* append =
                    window.findChild<QCheckBox*>(QStringLiteral("appendFilenameCheckBox"));
                append->setChecked(false);
                window.findChild<QPushButton*>(QStringLiteral("convertSelectedButton"))->click();
                auto* question = window.findChild<QMessageBox*>(QStringLiteral("confirmOverwrite"));
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                save(withSheet(window, question), output + QStringLiteral("/confirmation.png"));
                question->button(QMessageBox::Cancel)->click();
                append->setChecked(true);
                Settings::shared().setConvertBehavior(ConvertBehavior::backup);
                auto grabbed = std::make_shared<QMetaObject::Connection>();
                *grabbed =
                    QObject::connect(&viewModel, &ContentViewModel::changed, &window, [&, grabbed] {
                        if (!viewModel.isConverting() || viewModel.convertProgress() <= 0 ||
                            !viewModel.currentConvertingFile())
                            return;
                        QObject::disconnect(*grabbed);
                        save(settled(window), output + QStringLiteral("/converting.png"));
                    });
                viewModel.convertSelected();
            });
        });

    whenReady(
        [&] { return viewModel.showConversionComplete(); },
        [&] {
            QTimer::singleShot(600, &window, [&] {
                save(settled(window), output + QStringLiteral("/conversion-complete.png"));
                viewModel.setShowConversionComplete(false);
                auto* banner = window.findChild<CompletionBanner*>();
                whenReady(
                    [banner] { return banner->isHidden(); },
                    [&] {
                        viewModel.setShowDebug(true);
                        QTimer::singleShot(300, &window, [&] {
                            save(withSheet(window, window.findChild<InfoLogSheet*>()),
                                 output + QStringLiteral("/info-log.png"));
                            viewModel.setShowDebug(false);
                            window.findChild<QPushButton*>(QStringLiteral("preferencesButton"))
                                ->click();
                            QTimer::singleShot(300, &window, [&] {
                                auto* preferences = window.findChild<PreferencesDialog*>();
                                save(withSheet(window, preferences),
                                     output + QStringLiteral("/preferences.png"));
                                preferences->reject();
                                auto* bar = window.findChild<QMenuBar*>();
                                QAction* editMenu = bar->actions().at(1);
                                bar->setActiveAction(editMenu);
                                QTimer::singleShot(300, &window, [&, bar, editMenu] {
                                    save(withPopup(window, editMenu->menu()),
                                         output + QStringLiteral("/menu.png"));
                                    editMenu->menu()->close();
                                    bar->setActiveAction(nullptr);
                                    auto* table = window.findChild<FileTable*>();
                                    const QModelIndex row =
                                        table->rows().index(2, FileTableModel::nameColumn);
                                    table->rows().setHighlightedIds({table->rows().itemAt(2)->id});
                                    QMenu* rowMenu = table->makeRowMenu();
                                    rowMenu->popup(table->viewport()->mapToGlobal(
                                        table->visualRect(row).center()));
                                    QTimer::singleShot(300, &window, [&, rowMenu] {
                                        save(withPopup(window, rowMenu),
                                             output + QStringLiteral("/row-menu.png"));
                                        rowMenu->close();
                                        window.windowActions().history->trigger();
                                        auto* runs = window.findChild<QTreeWidget*>(
                                            QStringLiteral("historyTree"));
                                        whenReady([runs] { return runs->topLevelItemCount() > 0; },
                                                  [&, runs] {
                                                      runs->expandAll();
                                                      save(runs->window()->grab(),
                                                           output + QStringLiteral("/history.png"));
                                                      app.quit();
                                                  });
                                    });
                                });
                            });
                        });
                    });
            });
        });
    return app.exec();
}
