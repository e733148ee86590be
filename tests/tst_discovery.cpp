// What Home Assistant is told of a projector: one device configuration with its
// components, for what the projector has told of itself.

#include "service/mqtttopics.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {
constexpr int kButtons = 23; // the commands without an entity of their own
constexpr int kErrorCategories = 6;
} // namespace

Q_DECLARE_METATYPE(mqtttopics::Device)

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void shape_data();
    void shape();
};

void TestDiscovery::shape_data()
{
    QTest::addColumn<mqtttopics::Device>("device");
    QTest::addColumn<QStringList>("sensors"); // the lamp and filter sensors
    QTest::addColumn<bool>("problems");
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QJsonArray>("sources");

    mqtttopics::Device serial;
    serial.id = QStringLiteral("room-1");
    serial.version = QStringLiteral("1.3.0");
    serial.model = QStringLiteral("Demo LV-1");
    QTest::newRow("a serial projector of one service")
        << serial << QStringList {"lamp_hours"} << false << QStringList {"power"}
        << QJsonArray {"vga", "hdmi", "dvi", "s-video", "composite"};

    mqtttopics::Device pjlink = serial;
    pjlink.maker = QStringLiteral("Lumivox");
    pjlink.model = QStringLiteral("LV-1");
    pjlink.serialNumber = QStringLiteral("LV1-000042");
    pjlink.firmware = QStringLiteral("1.0.7");
    pjlink.lamps = 2;
    pjlink.filterHours = true;
    pjlink.errors = true;
    pjlink.inputTold = true;
    pjlink.sources = QStringList {"hdmi", "vga"};
    pjlink.mute = true;
    pjlink.freeze = true;
    pjlink.gatewayAvailability = QStringLiteral("lumivox/gateway/hall/availability");
    QTest::newRow("a PJLink projector of two lamps in a gateway")
        << pjlink << QStringList {"lamp_hours", "lamp2_hours", "filter_hours"} << true
        << QStringList {"power", "mute", "frozen"} << QJsonArray {"vga", "hdmi"};
}

void TestDiscovery::shape()
{
    QFETCH(mqtttopics::Device, device);
    QFETCH(QStringList, sensors);
    QFETCH(bool, problems);
    QFETCH(QStringList, switches);
    QFETCH(QJsonArray, sources);
    const mqtttopics::Message message = mqtttopics::discoveryMessage("site/ha", device);
    QCOMPARE(message.topic, "site/ha/device/lumivox_room-1/config");
    // Home Assistant no longer takes object_id: nowhere, not even in a template.
    QVERIFY(!message.payload.contains("object_id"));
    const QJsonObject config = QJsonDocument::fromJson(message.payload).object();

    const QJsonObject info = config.value("device").toObject();
    QCOMPARE(info.value("identifiers").toArray(), QJsonArray {"lumivox_room-1"});
    QCOMPARE(info.value("name").toString(), "room-1");
    QCOMPARE(info.value("manufacturer").toString(), device.maker);
    QCOMPARE(info.value("model").toString(), device.model);
    QCOMPARE(info.value("serial_number").toString(), device.serialNumber);
    // The projector's firmware; Lumivox's version is the origin's.
    QCOMPARE(info.value("sw_version").toString(), device.firmware);
    QCOMPARE(config.value("origin").toObject(),
             (QJsonObject {{"name", "Lumivox"}, {"sw_version", "1.3.0"}}));

    const QJsonObject components = config.value("components").toObject();
    QStringList foundSensors;
    QStringList foundSwitches;
    int problemSensors = 0;
    int buttons = 0;
    for (auto it = components.constBegin(); it != components.constEnd(); ++it) {
        const QJsonObject component = it.value().toObject();
        const QString platform = component.value("platform").toString();
        const QString uniqueId = component.value("unique_id").toString();
        QCOMPARE(uniqueId, "lumivox_room-1_" + it.key());
        QCOMPARE(component.value("default_entity_id").toString(),
                 platform + ".lumivox_room_1_" + QString(it.key()).replace('-', '_'));
        QCOMPARE(component.value("availability_mode").toString(), "all");
        QJsonArray availability = component.value("availability").toArray();
        QCOMPARE(availability.at(0).toObject().value("topic").toString(),
                 "lumivox/room-1/availability");
        if (!device.gatewayAvailability.isEmpty())
            QCOMPARE(availability.at(1).toObject().value("topic").toString(),
                     device.gatewayAvailability);
        // What the projector says is unavailable while it is out of contact; the power
        // switch is not, as it switches on a projector silent in standby.
        const bool derived
            = platform != "button" && it.key() != "contact" && it.key() != "power";
        const QJsonObject contact = availability.last().toObject();
        QCOMPARE(contact.value("topic").toString() == "lumivox/room-1/contact", derived);
        if (derived)
            QCOMPARE(contact.value("payload_available").toString(), "ON");
        if (platform == "sensor" && it.key() != "power_state")
            foundSensors.append(it.key());
        if (platform == "switch")
            foundSwitches.append(it.key());
        if (component.value("device_class").toString() == "problem") {
            ++problemSensors;
            QCOMPARE(component.value("entity_category").toString(), "diagnostic");
            QCOMPARE(component.value("state_topic").toString(), "lumivox/room-1/errors");
        }
        if (platform == "button") {
            ++buttons;
            QCOMPARE(component.value("enabled_by_default"), QJsonValue(false));
        }
    }
    foundSensors.sort();
    sensors.sort();
    QCOMPARE(foundSensors, sensors);
    QCOMPARE(problemSensors, problems ? kErrorCategories : 0);
    QCOMPARE(buttons, kButtons);
    foundSwitches.sort();
    switches.sort();
    QCOMPARE(foundSwitches, switches);
    QCOMPARE(components.value("lamp_hours").toObject().value("name").toString(), "Lamp hours");
    if (device.lamps > 1)
        QCOMPARE(components.value("lamp2_hours").toObject().value("state_topic").toString(),
                 "lumivox/room-1/lamp2_hours");

    // The select follows the input where the projector tells it.
    const QJsonObject source = components.value("source").toObject();
    QCOMPARE(source.value("options").toArray(), sources);
    QCOMPARE(source.value("optimistic").toBool(), !device.inputTold);
    QCOMPARE(source.contains("state_topic"), device.inputTold);
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
