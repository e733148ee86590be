#include "service/mqtttopics.h"

#include "link/commands.h"
#include "link/pjlink.h"

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

// Entity ids are made of [a-z0-9_]: "switch.lumivox_test_room_power" for the id
// "test-room", as Home Assistant made it of 1.2's object_id.
QString entitySlug(const QString &text)
{
    QString slug = text.toLower();
    for (QChar &c : slug)
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z'))
              || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))))
            c = QLatin1Char('_');
    return slug;
}

QJsonObject availabilityOf(const QString &topic, const char *available, const char *notAvailable)
{
    return {{QStringLiteral("topic"), topic},
            {QStringLiteral("payload_available"), QLatin1String(available)},
            {QStringLiteral("payload_not_available"), QLatin1String(notAvailable)}};
}

// Whether an entity shows what the projector says: it is unavailable while the projector
// is out of contact, not only while the service is away.
enum class Derived { No, Yes };

class Builder
{
public:
    Builder(const Device &device)
        : device(device)
        , node(QStringLiteral("lumivox_") + device.id)
    {
        availability.append(availabilityOf(topic(device.id, kAvailability), kOnline, kOffline));
        if (!device.gatewayAvailability.isEmpty())
            availability.append(availabilityOf(device.gatewayAvailability, kOnline, kOffline));
    }

    void add(const char *platform, const QString &object, const QString &name, QJsonObject config,
             Derived derived = Derived::Yes)
    {
        const QString uniqueId = node + QLatin1Char('_') + object;
        config.insert(QStringLiteral("platform"), QLatin1String(platform));
        config.insert(QStringLiteral("name"), name);
        config.insert(QStringLiteral("unique_id"), uniqueId);
        config.insert(QStringLiteral("default_entity_id"),
                      QLatin1String(platform) + QLatin1Char('.') + entitySlug(uniqueId));
        QJsonArray list = availability;
        if (derived == Derived::Yes)
            list.append(availabilityOf(topic(device.id, kContact), kOn, kOff));
        config.insert(QStringLiteral("availability"), list);
        config.insert(QStringLiteral("availability_mode"), QStringLiteral("all"));
        components.insert(object, config);
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
    QString stateTopic(const QString &leaf) const { return topic(device.id, leaf); }

    QJsonObject components;

private:
    Device device;
    QString node;
    QJsonArray availability;
};

QJsonObject hoursSensor(const QString &stateTopic)
{
    return {{QStringLiteral("state_topic"), stateTopic},
            {QStringLiteral("device_class"), QStringLiteral("duration")},
            {QStringLiteral("unit_of_measurement"), QStringLiteral("h")},
            {QStringLiteral("state_class"), QStringLiteral("total_increasing")}};
}

// A switch of a command that toggles (the projector tells which way it is).
QJsonObject toggleSwitch(const QString &stateTopic, commands::Command command)
{
    const QString name = QLatin1String(commands::command(command).name);
    return {{QStringLiteral("payload_on"), name},
            {QStringLiteral("payload_off"), name},
            {QStringLiteral("state_topic"), stateTopic},
            {QStringLiteral("state_on"), QLatin1String(kOn)},
            {QStringLiteral("state_off"), QLatin1String(kOff)}};
}
} // namespace

QString topic(const QString &id, const char *leaf)
{
    return topic(id, QLatin1String(leaf));
}

QString topic(const QString &id, const QString &leaf)
{
    return QStringLiteral("lumivox/") + id + QLatin1Char('/') + leaf;
}

QString lampLeaf(int lamp)
{
    return lamp == 0 ? QLatin1String(kLampHours) : QStringLiteral("lamp%1_hours").arg(lamp + 1);
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

QString discoveryTopic(const QString &prefix, const QString &id)
{
    return QStringLiteral("%1/device/lumivox_%2/config").arg(prefix, id);
}

Message discoveryMessage(const QString &prefix, const Device &device)
{
    const commands::NamedCommand &on = commands::command(commands::Command::PowerOn);
    const commands::NamedCommand &off = commands::command(commands::Command::PowerOff);
    Builder builder(device);

    // The switch follows the power state: on while warming, off while cooling, unknown
    // ("None") until the projector has told. It stays usable out of contact: a projector
    // that is silent in standby is switched on by it.
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
             {QStringLiteral("state_off"), QStringLiteral("OFF")}}),
                Derived::No);
    // The first lamp keeps the entity of the time when one lamp was all there was.
    for (int lamp = 0; lamp < std::max(1, device.lamps); ++lamp)
        builder.add("sensor", lampLeaf(lamp),
                    lamp == 0 ? QStringLiteral("Lamp hours")
                              : QStringLiteral("Lamp %1 hours").arg(lamp + 1),
                    hoursSensor(builder.stateTopic(lampLeaf(lamp))));
    if (device.filterHours)
        builder.add("sensor", QLatin1String(kFilterHours), QStringLiteral("Filter hours"),
                    hoursSensor(builder.stateTopic(kFilterHours)));
    if (device.errors) {
        for (int field = 0; field < pjlink::kErrorFields; ++field) {
            const QString category = QLatin1String(pjlink::errorFieldName(field));
            QString name = category + QStringLiteral(" problem");
            name[0] = name.at(0).toUpper();
            // A warning is a problem too: the attention it needs comes before the error.
            builder.add("binary_sensor", category + QStringLiteral("_problem"), name,
                        {{QStringLiteral("state_topic"), builder.stateTopic(kErrors)},
                         {QStringLiteral("value_template"),
                          QStringLiteral("{% if value_json.%1 == 'ok' %}OFF{% else %}ON{% endif %}")
                              .arg(category)},
                         {QStringLiteral("device_class"), QStringLiteral("problem")},
                         {QStringLiteral("payload_on"), QLatin1String(kOn)},
                         {QStringLiteral("payload_off"), QLatin1String(kOff)},
                         {QStringLiteral("entity_category"), QStringLiteral("diagnostic")}});
        }
    }
    builder.add("binary_sensor", QStringLiteral("contact"), QStringLiteral("Contact"),
                {{QStringLiteral("state_topic"), builder.stateTopic(kContact)},
                 {QStringLiteral("device_class"), QStringLiteral("connectivity")},
                 {QStringLiteral("payload_on"), QLatin1String(kOn)},
                 {QStringLiteral("payload_off"), QLatin1String(kOff)},
                 {QStringLiteral("entity_category"), QStringLiteral("diagnostic")}},
                Derived::No);
    builder.add(
        "sensor", QStringLiteral("power_state"), QStringLiteral("Power state"),
        {{QStringLiteral("state_topic"), builder.stateTopic(kPower)},
         {QStringLiteral("device_class"), QStringLiteral("enum")},
         {QStringLiteral("options"),
          QJsonArray {QStringLiteral("on"), QStringLiteral("off"), QStringLiteral("warming"),
                      QStringLiteral("cooling"), QStringLiteral("unknown")}}});
    QJsonArray sources;
    for (const commands::Command source : kSources) {
        const QString name = QLatin1String(commands::command(source).name);
        if (device.sources.isEmpty() || device.sources.contains(name))
            sources.append(name);
    }
    QJsonObject select {{QStringLiteral("options"), sources}};
    if (device.inputTold) {
        // An input that no option chooses is shown as unknown.
        QStringList quoted;
        for (const QJsonValue source : qAsConst(sources))
            quoted.append(QLatin1Char('\'') + source.toString() + QLatin1Char('\''));
        select.insert(QStringLiteral("state_topic"), builder.stateTopic(kInput));
        select.insert(QStringLiteral("value_template"),
                      QStringLiteral("{% if value in [%1] %}{{ value }}{% else %}None{% endif %}")
                          .arg(quoted.join(QStringLiteral(", "))));
    } else {
        // The projector does not tell its input: the select shows the last one chosen.
        select.insert(QStringLiteral("optimistic"), true);
    }
    builder.add("select", QStringLiteral("source"), QStringLiteral("Source"),
                builder.commanding(select));
    if (device.mute)
        builder.add("switch", QLatin1String(kMute), QStringLiteral("Mute"),
                    builder.commanding(
                        toggleSwitch(builder.stateTopic(kMute), commands::Command::ShowHide)));
    // "freeze" is the button's, as it was.
    if (device.freeze)
        builder.add("switch", QStringLiteral("frozen"), QStringLiteral("Freeze"),
                    builder.commanding(
                        toggleSwitch(builder.stateTopic(kFreeze), commands::Command::Freeze)));
    // The remote's keys are there for whoever wants them, out of the way of the others.
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &entry = commands::commandTable()[i];
        if (hasOwnEntity(entry.id))
            continue;
        builder.add(
            "button", QString::fromLatin1(entry.name), buttonName(entry.name),
            builder.commanding({{QStringLiteral("payload_press"), QLatin1String(entry.name)},
                                {QStringLiteral("enabled_by_default"), false}}),
            Derived::No);
    }

    QJsonObject info {
        {QStringLiteral("identifiers"), QJsonArray {QStringLiteral("lumivox_") + device.id}},
        {QStringLiteral("name"), device.id}};
    const std::pair<const char *, QString> told[] = {{"manufacturer", device.maker},
                                                     {"model", device.model},
                                                     {"serial_number", device.serialNumber},
                                                     {"sw_version", device.firmware}};
    for (const auto &[key, value] : told)
        if (!value.isEmpty())
            info.insert(QLatin1String(key), value);
    const QJsonObject config {
        {QStringLiteral("device"), info},
        {QStringLiteral("origin"),
         QJsonObject {{QStringLiteral("name"), QStringLiteral("Lumivox")},
                      {QStringLiteral("sw_version"), device.version}}},
        {QStringLiteral("components"), builder.components},
    };
    return {discoveryTopic(prefix, device.id),
            QJsonDocument(config).toJson(QJsonDocument::Compact)};
}

QStringList formerDiscoveryTopics(const QString &prefix, const QString &id)
{
    // Exactly those 1.2 published, whatever this version has made of them.
    const QString node = QStringLiteral("lumivox_") + id;
    const auto at = [&](const char *component, const QString &object) {
        return QStringLiteral("%1/%2/%3/%4/config")
            .arg(prefix, QLatin1String(component), node, object);
    };
    QStringList topics {
        at("switch", QStringLiteral("power")), at("sensor", QStringLiteral("lamp_hours")),
        at("binary_sensor", QStringLiteral("contact")), at("sensor", QStringLiteral("power_state")),
        at("select", QStringLiteral("source"))};
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &entry = commands::commandTable()[i];
        if (!hasOwnEntity(entry.id))
            topics.append(at("button", QString::fromLatin1(entry.name)));
    }
    return topics;
}

} // namespace mqtttopics
