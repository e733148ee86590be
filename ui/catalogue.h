#ifndef CATALOGUE_H
#define CATALOGUE_H

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The translation catalogue is whatever file lies in the working directory, and the
// toolkit's translator follows its offsets and lengths without checking them. These
// check a compiled catalogue (.qm) first, so the translator only ever gets one it can
// read safely.

// Checks `bytes` as a whole against the compiled catalogue format: the magic number,
// every section's tag and length, the hash table's entries (ordered, each pointing at
// the start of a message record), every message record's fields and their lengths,
// the context table and the plural rules. A catalogue that names other catalogues is
// refused, as they would be read unchecked. Returns an empty string if the catalogue is
// sound, otherwise the first defect found.
QString catalogueDefect(QByteArrayView bytes);

// Reads the catalogue `fileName` and returns its bytes if they are sound; the translator
// is to be loaded from exactly these bytes, which must outlive it. Otherwise returns an
// empty array and tells why in `defect`, which stays empty when there is no such file.
QByteArray readCatalogue(const QString &fileName, QString *defect);

#endif // CATALOGUE_H
