#include "service/mqtttopics.h"

#include "link/commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace mqtttopics {

namespace {
constexpr int kMaxIdLength = 64;
constexpr char kFallbackId[] = "lumivox";

// The commands that the switch and the select send; every other one gets a button.
constexpr commands::Command kSources[]
    = {commands::Command::Vga, commands::Command::Hdmi, commands::Command::Dvi,
       commands::Command::SVideo, commands::Command::Composite};

bool isIdCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_')
        || c == QLatin1Char('-');
}

bool hasOwnEntity(commands::Command id)
{
    if (id == commands::Command::PowerOn || id == commands::Command::PowerOff)
        return true;
    for (const commands::Command source : kSources)
        if (id == source)
            return true;
    return false;
}

// "search-auto" is shown as "Search auto", "16-9" as "16:9".
QString buttonName(const char *commandName)
{
    QString name = QString::fromLatin1(commandName);
    if (name.at(0).isDigit())
        return name.replace(QLatin1Char('-'), QLatin1Char(':'));
    name.replace(QLatin1Char('-'), QLatin1Char(' '));
    name[0] = name.at(0).toUpper();
    return name;
}

class Builder
{
public:
    Builder(const QString &prefix, const Device &device)
        : prefix(prefix)
        , device(device)
        , node(QStringLiteral("lumivox_") + device.id)
    {
        QJsonObject info {{QStringLiteral("identifiers"), QJsonArray {node}},
                          {QStringLiteral("name"), device.id},
                          {QStringLiteral("sw_version"), device.version}};
        if (!device.model.isEmpty())
            info.insert(QStringLiteral("model"), device.model);
        deviceInfo = info;
    }

    void add(const char *component, const QString &object, const QString &name, QJsonObject config)
    {
        const QString uniqueId = node + QLatin1Char('_') + object;
        config.insert(QStringLiteral("name"), name);
        config.insert(QStringLiteral("unique_id"), uniqueId);
        config.insert(QStringLiteral("object_id"), uniqueId);
        config.insert(QStringLiteral("device"), deviceInfo);
        config.insert(QStringLiteral("availability_topic"), topic(device.id, kAvailability));
        config.insert(QStringLiteral("payload_available"), QLatin1String(kOnline));
        config.insert(QStringLiteral("payload_not_available"), QLatin1String(kOffline));
        messages.append({QStringLiteral("%1/%2/%3/%4/config")
                             .arg(prefix, QLatin1String(component), node, object),
                         QJsonDocument(config).toJson(QJsonDocument::Compact)});
    }

    // Commands go to the command topic with QoS 1, never retained: a retained command
    // would be refused anyway.
    QJsonObject commanding(QJsonObject config) const
    {
        config.insert(QStringLiteral("command_topic"), topic(device.id, kCommand));
        config.insert(QStringLiteral("qos"), 1);
        config.insert(QStringLiteral("retain"), false);
        return config;
    }

    QString stateTopic(const char *leaf) const { return topic(device.id, leaf); }

    QList<Message> messages;

private:
    QString prefix;
    Device device;
    QString node;
    QJsonObject deviceInfo;
};
} // namespace

QString topic(const QString &id, const char *leaf)
{
    return QStringLiteral("lumivox/") + id + QLatin1Char('/') + QLatin1String(leaf);
}

bool isValidId(const QString &id)
{
    return !id.isEmpty() && id.size() <= kMaxIdLength
        && std::all_of(id.cbegin(), id.cend(), isIdCharacter);
}

QString idFromHostName(const QString &hostName)
{
    QString id;
    for (const QChar c : hostName.toLower())
        if (isIdCharacter(c) && id.size() < kMaxIdLength)
            id.append(c);
    return id.isEmpty() ? QLatin1String(kFallbackId) : id;
}

QString discoveryStatusTopic(const QString &prefix)
{
    return prefix + QStringLiteral("/status");
}

QList<Message> discoveryMessages(const QString &prefix, const Device &device)
{
    const commands::NamedCommand &on = commands::command(commands::Command::PowerOn);
    const commands::NamedCommand &off = commands::command(commands::Command::PowerOff);
    Builder builder(prefix, device);

    // The switch follows the power state: on while warming, off while cooling, unknown
    // ("None") until the projector has told.
    builder.add(
        "switch", QStringLiteral("power"), QStringLiteral("Power"),
        builder.commanding(
            {{QStringLiteral("payload_on"), QLatin1String(on.name)},
             {QStringLiteral("payload_off"), QLatin1String(off.name)},
             {QStringLiteral("state_topic"), builder.stateTopic(kPower)},
             {QStringLiteral("value_template"),
              QStringLiteral("{% if value in ('on', 'warming') %}ON{% elif value in ('off', "
                             "'cooling') %}OFF{% else %}None{% endif %}")},
             {QStringLiteral("state_on"), QStringLiteral("ON")},
             {QStringLiteral("state_off"), QStringLiteral("OFF")}}));
    builder.add("sensor", QStringLiteral("lamp_hours"), QStringLiteral("Lamp hours"),
                {{QStringLiteral("state_topic"), builder.stateTopic(kLampHours)},
                 {QStringLiteral("device_class"), QStringLiteral("duration")},
                 {QStringLiteral("unit_of_measurement"), QStringLiteral("h")},
                 {QStringLiteral("state_class"), QStringLiteral("total_increasing")}});
    builder.add("binary_sensor", QStringLiteral("contact"), QStringLiteral("Contact"),
                {{QStringLiteral("state_topic"), builder.stateTopic(kContact)},
                 {QStringLiteral("device_class"), QStringLiteral("connectivity")},
                 {QStringLiteral("payload_on"), QStringLiteral("ON")},
                 {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                 {QStringLiteral("entity_category"), QStringLiteral("diagnostic")}});
    builder.add(
        "sensor", QStringLiteral("power_state"), QStringLiteral("Power state"),
        {{QStringLiteral("state_topic"), builder.stateTopic(kPower)},
         {QStringLiteral("device_class"), QStringLiteral("enum")},
         {QStringLiteral("options"),
          QJsonArray {QStringLiteral("on"), QStringLiteral("off"), QStringLiteral("warming"),
                      QStringLiteral("cooling"), QStringLiteral("unknown")}}});
    // The projector does not tell its input: the select shows the last one chosen.
    QJsonArray sources;
    for (const commands::Command source : kSources)
        sources.append(QLatin1String(commands::command(source).name));
    builder.add("select", QStringLiteral("source"), QStringLiteral("Source"),
                builder.commanding(
                    {{QStringLiteral("options"), sources}, {QStringLiteral("optimistic"), true}}));
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &entry = commands::commandTable()[i];
        if (hasOwnEntity(entry.id))
            continue;
        builder.add(
            "button", QString::fromLatin1(entry.name), buttonName(entry.name),
            builder.commanding({{QStringLiteral("payload_press"), QLatin1String(entry.name)}}));
    }
    return builder.messages;
}

} // namespace mqtttopics
