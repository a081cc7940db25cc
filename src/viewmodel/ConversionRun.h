// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "converter/ConversionOutcome.h"
#include "model/FileItem.h"
#include "model/Statuses.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <memory>
#include <stop_token>

class AudioConverter;

// One conversion run: the selected items, or one row, converted strictly one
// after another on a worker of its own, as one run of the history. What
// becomes of the originals is read when it starts, so its summary tells what
// this run did, whatever the settings say by its end. What happens reaches
// the receiver as calls posted to the GUI thread, and only while it lives;
// each call names the run it comes from.
class ConversionRun : public std::enable_shared_from_this<ConversionRun> {
public:
    struct Events {
        QPointer<QObject> receiver;
        std::function<void(ConversionRun&, const FileItemPtr& item)> converting;
        // One of the converter's progress lines.
        std::function<void(const QString& line)> logged;
        // The item's outcome, and the share of the run's items handled.
        std::function<void(ConversionRun&, const FileItemPtr& item,
                           const ConversionOutcome& outcome, double share)>
            converted;
        // The run has let go of all its items.
        std::function<void(ConversionRun&)> finished;
    };

    // Starts the run and returns at once. A stop requested through `stop`
    // cancels the running ffmpeg and ends the run once that item's outcome
    // is reported; runs may share one stop source.
    static std::shared_ptr<ConversionRun> start(std::shared_ptr<const AudioConverter> converter,
                                                QList<FileItemPtr> items, std::stop_source stop,
                                                Events events);

    const QList<FileItemPtr> items;
    const ConvertBehavior behavior;
    const bool suffixEnabled;

    void stop() { stopSource.request_stop(); }
    bool wasStopped() const { return stopSource.stop_requested(); }

private:
    ConversionRun(QList<FileItemPtr> items, std::stop_source stop,
                  std::shared_ptr<const Events> events);

    void run(const AudioConverter& converter);
    void post(std::function<void(const Events&, ConversionRun&)> call);

    std::stop_source stopSource;
    const std::shared_ptr<const Events> events;
};
