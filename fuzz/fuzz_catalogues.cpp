// Arbitrary bytes as the translation catalogue: the check must refuse whatever the
// toolkit's translator cannot read safely. Every catalogue it accepts is loaded, as
// start-up does, and every text of the program (listed by lupdate from the sources at
// build time) is looked up in it, with and without plural counts. The translator is
// not built with the sanitizers, so the bytes it reads end right at a page it may not
// touch: a read past the end crashes at once.

#include "ui/catalogue.h"

#include <QFile>
#include <QTranslator>
#include <QXmlStreamReader>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr std::size_t kRegion = 1 << 16; // inputs up to this size end at the guard page
constexpr std::size_t kMinTexts = 50; // the program has more; fewer means a broken list
constexpr int kHexBase = 16;
constexpr int kCounts[] = {-1, 0, 1, 2, 3, 5, 11, 12, 21, 22, 101, 111, 1000, 1001, INT_MAX};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_catalogues: %s\n", what);
    std::abort();
}

struct Text
{
    QByteArray context;
    QByteArray source;
    QByteArray comment;
};

// The text of the current element; lupdate writes control characters as <byte value="xd"/>.
QByteArray elementText(QXmlStreamReader &xml)
{
    QString text;
    while (xml.readNext() != QXmlStreamReader::EndElement || xml.name() == u"byte") {
        if (xml.isCharacters()) {
            text += xml.text();
        } else if (xml.isStartElement() && xml.name() == u"byte") {
            const QString value = xml.attributes().value(QStringLiteral("value")).toString();
            text += QChar(value.startsWith(u'x') ? value.mid(1).toUInt(nullptr, kHexBase)
                                                 : value.toUInt());
        } else if (xml.atEnd()) {
            break;
        }
    }
    return text.toUtf8();
}

const std::vector<Text> &programTexts()
{
    static const std::vector<Text> texts = [] {
        std::vector<Text> list;
        QFile file(QStringLiteral(LUMIVOX_TEXTS));
        if (!file.open(QIODevice::ReadOnly))
            fail("no list of the program's texts");
        QXmlStreamReader xml(&file);
        QByteArray context;
        Text text;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) {
                if (xml.name() == u"name")
                    context = elementText(xml);
                else if (xml.name() == u"message")
                    text = Text {context, {}, {}};
                else if (xml.name() == u"source")
                    text.source = elementText(xml);
                else if (xml.name() == u"comment")
                    text.comment = elementText(xml);
            } else if (xml.isEndElement() && xml.name() == u"message") {
                list.push_back(text);
            }
        }
        if (xml.hasError() || list.size() < kMinTexts)
            fail("list of the program's texts unreadable");
        return list;
    }();
    return texts;
}

// kRegion bytes followed by a page that may not be read.
uchar *guardedRegion()
{
    static uchar *region = [] {
        const auto page = std::size_t(sysconf(_SC_PAGESIZE));
        void *mapped = mmap(nullptr, kRegion + page, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            fail("no memory for the guarded region");
        auto *start = static_cast<uchar *>(mapped);
        if (mprotect(start + kRegion, page, PROT_NONE) != 0)
            fail("no guard page");
        return start;
    }();
    return region;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<Text> &texts = programTexts();
    if (size > std::size_t(INT_MAX))
        return 0;
    if (!catalogueDefect(QByteArrayView(data, qsizetype(size))).isEmpty())
        return 0;

    const uchar *bytes = data;
    if (size <= kRegion) {
        uchar *copy = guardedRegion() + (kRegion - size);
        std::memcpy(copy, data, size);
        bytes = copy;
    }
    QTranslator translator;
    if (!translator.load(bytes, int(size)))
        fail("the translator refuses a catalogue the check accepted");
    qsizetype characters = 0;
    for (const Text &text : texts) {
        const char *comment = text.comment.isEmpty() ? nullptr : text.comment.constData();
        for (const int n : kCounts)
            characters
                += translator
                       .translate(text.context.constData(), text.source.constData(), comment, n)
                       .size();
    }
    return characters < 0 ? 1 : 0;
}
