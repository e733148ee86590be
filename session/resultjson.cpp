#include "session/resultjson.h"

#include "link/pjlink.h"
#include "session/exitstatus.h"

#include <QJsonArray>

namespace resultjson {

namespace {
using Outcome = ScriptedRequest::StepOutcome;

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Answered:
        return "answered";
    case Outcome::NotAvailable:
        return "not-available";
    case Outcome::Silent:
        return "no-answer";
    case Outcome::NotSent:
        return "not-sent";
    case Outcome::Failed:
        return "failed";
    }
    return "";
}

Outcome outcomeNamed(const QString &name)
{
    for (const Outcome outcome :
         {Outcome::Answered, Outcome::NotAvailable, Outcome::NotSent, Outcome::Failed})
        if (name == QLatin1String(outcomeName(outcome)))
            return outcome;
    return Outcome::Silent;
}

// A PJLink projector's error status, field by field: {"fan": "ok", "lamp": "warning", ...}.
QJsonObject errorStatusObject(const QString &digits)
{
    QJsonObject fields;
    for (int field = 0; field < pjlink::kErrorFields && field < digits.size(); ++field)
        fields.insert(QLatin1String(pjlink::errorFieldName(field)),
                      QLatin1String(pjlink::errorLevelName(char(digits.at(field).unicode()))));
    return fields;
}

QString errorStatusDigits(const QJsonObject &fields)
{
    QString digits;
    for (int field = 0; field < pjlink::kErrorFields; ++field) {
        const QString level = fields.value(QLatin1String(pjlink::errorFieldName(field))).toString();
        digits += level == QLatin1String("error") ? QLatin1Char('2')
            : level == QLatin1String("warning")   ? QLatin1Char('1')
                                                  : QLatin1Char('0');
    }
    return digits;
}
} // namespace

QJsonObject toJson(const ScriptedRequest::Result &result)
{
    QJsonArray steps;
    for (const ScriptedRequest::StepResult &step : result.steps) {
        QJsonObject object {{QStringLiteral("name"), step.name},
                            {QStringLiteral("frame"), step.text},
                            {QStringLiteral("result"), QLatin1String(outcomeName(step.outcome))},
                            {QStringLiteral("replies"), QJsonArray::fromStringList(step.replies)}};
        if (step.outcome == Outcome::Answered)
            object.insert(QStringLiteral("answer"), step.answer);
        if (!step.reason.isEmpty())
            object.insert(QStringLiteral("reason"), step.reason);
        steps.append(object);
    }
    QJsonObject object {{QStringLiteral("commands"), steps},
                        {QStringLiteral("lamp"), result.lamp},
                        {QStringLiteral("contact"), result.contact},
                        {QStringLiteral("status"), exitstatus::of(result.status)}};
    if (!result.error.isEmpty())
        object.insert(QStringLiteral("error"), result.error);
    if (!result.power.isEmpty())
        object.insert(QStringLiteral("power"), result.power);
    if (!result.errorStatus.isEmpty())
        object.insert(QStringLiteral("errors"), errorStatusObject(result.errorStatus));
    return object;
}

ScriptedRequest::Result fromJson(const QJsonObject &object)
{
    ScriptedRequest::Result result;
    const QJsonArray steps = object.value(QStringLiteral("commands")).toArray();
    for (const QJsonValue &value : steps) {
        const QJsonObject step = value.toObject();
        ScriptedRequest::StepResult stepResult;
        stepResult.name = step.value(QStringLiteral("name")).toString();
        stepResult.text = step.value(QStringLiteral("frame")).toString();
        stepResult.outcome = outcomeNamed(step.value(QStringLiteral("result")).toString());
        stepResult.answer = step.value(QStringLiteral("answer")).toString();
        stepResult.reason = step.value(QStringLiteral("reason")).toString();
        for (const QJsonValue &reply : step.value(QStringLiteral("replies")).toArray())
            stepResult.replies.append(reply.toString());
        result.steps.append(stepResult);
    }
    result.lamp = object.value(QStringLiteral("lamp")).toString(result.lamp);
    result.contact = object.value(QStringLiteral("contact")).toBool();
    result.error = object.value(QStringLiteral("error")).toString();
    result.power = object.value(QStringLiteral("power")).toString();
    if (object.value(QStringLiteral("errors")).isObject())
        result.errorStatus = errorStatusDigits(object.value(QStringLiteral("errors")).toObject());
    result.status = exitstatus::requestStatus(
        object.value(QStringLiteral("status")).toInt(exitstatus::PortFailed));
    return result;
}

} // namespace resultjson
