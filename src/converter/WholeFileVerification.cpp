#include "converter/WholeFileVerification.h"

#include "exec/TimeLimits.h"
#include "scanner/WholeFileComparison.h"

#include <QUrl>

namespace {

QString differenceText(const WholeFileVerdict& verdict) {
    return QStringLiteral("Not converted: channels differ at ") +
           minutesAndSeconds(verdict.firstDifferingFrame.value_or(0));
}

} // namespace

WholeFileCheck verifyWholeFile(const QString& input, const Settings& settings,
                               const ConversionLog& log, std::stop_token stop) {
    log(QStringLiteral("Verifying whole file: ") + input);
    try {
        const WholeFileVerdict verdict =
            compareWholeFile(QUrl::fromLocalFile(input), settings.comparisonMethod(),
                             wholeFileLimitSeconds(settings), stop);
        if (verdict.framesCompared == 0)
            return {QStringLiteral("Not converted: could not verify the whole file")};
        if (!verdict.channelsMatch)
            return {differenceText(verdict)};
        log(QStringLiteral("Verified: channels identical over ") +
            minutesAndSeconds(verdict.framesCompared));
        return {std::nullopt, verdict.framesCompared};
    } catch (const CancellationError&) {
        return {QStringLiteral("Cancelled")};
    } catch (const TimeoutError&) {
        return {QStringLiteral("Not converted: could not verify the whole file (timed out)")};
    } catch (const std::exception&) {
        return {QStringLiteral("Not converted: could not verify the whole file")};
    }
}
