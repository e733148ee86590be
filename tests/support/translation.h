#ifndef TRANSLATION_H
#define TRANSLATION_H

#include <QByteArray>
#include <QList>
#include <QString>

namespace testsupport {

// The one file name the program looks for, relative to its working directory.
inline constexpr char catalogueFileName[] = "Lumivox.qm";

// Compiles the catalogue source `tsFile` with the lrelease at `lrelease` into `qmFile`.
// On failure returns false and, if `error` is given, tells why (lrelease's own output).
bool compileCatalogue(const QString &lrelease, const QString &tsFile, const QString &qmFile,
                      QString *error = nullptr);

// Compiled catalogues: where the contents of the first section with tag `tag` begin
// (its length in `length`), or -1 if there is no such section.
constexpr unsigned char catalogueHashesTag = 0x42;
constexpr unsigned char catalogueMessagesTag = 0x69;
qsizetype catalogueSection(const QByteArray &catalogue, unsigned char tag,
                           quint32 *length = nullptr);

// `catalogue` with every entry of its hash table pointing far past its messages.
QByteArray withHashesPastTheMessages(const QByteArray &catalogue);

// `catalogue` with the records of these source texts claiming far more bytes for the
// source text than the file has: the toolkit's translator reads there, unchecked, when
// the text is looked up (the program crashed on such a catalogue).
QByteArray withSourceTextsPastTheEnd(const QByteArray &catalogue, const QList<QByteArray> &sources);

#if defined(LUMIVOX_LRELEASE) && defined(LUMIVOX_SOURCE_DIR)
// The test catalogue tests/fixtures/lumivox_test.ts. It translates, among others:
//   LumivoxClass  "Lumivox V 1.2" -> "Projektorfernbedienung 1.2", "Brightness" -> "Helligkeit",
//                 "Left" -> "Nach links", "Help" -> "Hilfe"
//   Lumivox       "Failed to initialize Com port 1!\r" -> "Schnittstelle COM1 nicht geöffnet!\r",
//                 "No Contact" -> "Kein Kontakt"
//   SettingsClass "COM1" -> "COM7", "Apply" -> "Übernehmen"
inline QString testCatalogueSource()
{
    return QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/fixtures/lumivox_test.ts");
}

// Compiles the test catalogue into `directory` as "Lumivox.qm"; returns the file's path,
// or an empty string (and the reason in `error`) if lrelease failed.
inline QString buildTestCatalogue(const QString &directory, QString *error = nullptr)
{
    const QString qmFile = directory + QLatin1Char('/') + QLatin1String(catalogueFileName);
    if (!compileCatalogue(QStringLiteral(LUMIVOX_LRELEASE), testCatalogueSource(), qmFile, error))
        return {};
    return qmFile;
}
#endif

} // namespace testsupport

#endif // TRANSLATION_H
