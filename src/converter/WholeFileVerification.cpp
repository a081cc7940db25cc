#include "converter/WholeFileVerification.h"

#include "exec/HardTimeout.h"
#include "scanner/WholeFileComparison.h"

#include <QUrl>

namespace {

QString differenceText(const WholeFileVerdict& verdict) {
    return QStringLiteral("Not converted: channels differ at ") +
           minutesAndSeconds(verdict.firstDifferingFrame.value_or(0));
}

} // namespace

std::optional<QString> verifyWholeFile(const QString& input, const Settings& settings,
                                       const ConversionLog& log) {
    log(QStringLiteral("Verifying whole file: ") + input);
    try {
        const WholeFileVerdict verdict =
            compareWholeFile(QUrl::fromLocalFile(input), settings.comparisonMethod(),
                             wholeFileLimitSeconds(settings));
        if (verdict.framesCompared == 0)
            return QStringLiteral("Not converted: could not verify the whole file");
        if (!verdict.channelsMatch)
            return differenceText(verdict);
        log(QStringLiteral("Verified: channels identical over ") +
            minutesAndSeconds(verdict.framesCompared));
        return std::nullopt;
    } catch (const TimeoutError&) {
        return QStringLiteral("Not converted: could not verify the whole file (timed out)");
    } catch (const std::exception&) {
        return QStringLiteral("Not converted: could not verify the whole file");
    }
}
