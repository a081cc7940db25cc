// SPDX-License-Identifier: GPL-3.0-or-later

#include "viewmodel/ConversionRun.h"

#include "converter/AudioConverter.h"
#include "exec/WorkerThreads.h"
#include "model/Settings.h"

#include <QUuid>

ConversionRun::ConversionRun(QList<FileItemPtr> items, std::stop_source stop,
                             std::shared_ptr<const Events> events)
    : items(std::move(items)), behavior(Settings::shared().convertBehavior()),
      suffixEnabled(Settings::shared().suffixEnabled()), stopSource(std::move(stop)),
      events(std::move(events)) {}

std::shared_ptr<ConversionRun> ConversionRun::start(std::shared_ptr<const AudioConverter> converter,
                                                    QList<FileItemPtr> items, std::stop_source stop,
                                                    Events events) {
    std::shared_ptr<ConversionRun> run(new ConversionRun(
        std::move(items), std::move(stop), std::make_shared<const Events>(std::move(events))));
    startDetachedWorker([run, converter = std::move(converter)] { run->run(*converter); });
    return run;
}

void ConversionRun::post(std::function<void(const Events&, ConversionRun&)> call) {
    postToGuiThread([run = shared_from_this(), call = std::move(call)] {
        if (run->events->receiver)
            call(*run->events, *run);
    });
}

void ConversionRun::run(const AudioConverter& converter) {
    const std::stop_token stop = stopSource.get_token();
    const qsizetype count = items.size();
    // One key for the whole run, so the history can take it back as one.
    const QString runKey = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A step abandoned at its time limit may still log after its call returned.
    const LogCallback logLine = [events = events](const QString& line) {
        postToGuiThread([events, line] {
            if (events->receiver)
                events->logged(line);
        });
    };
    for (qsizetype index = 0; index < count; ++index) {
        if (stop.stop_requested())
            break;
        const FileItemPtr& item = items[index];
        post([item](const Events& to, ConversionRun& run) { to.converting(run, item); });
        const ConversionOutcome outcome = converter.convertToMono(item, logLine, stop, runKey);
        post([item, outcome, share = double(index + 1) / double(count)](const Events& to,
                                                                        ConversionRun& run) {
            to.converted(run, item, outcome, share);
        });
    }
    post([](const Events& to, ConversionRun& run) { to.finished(run); });
}
