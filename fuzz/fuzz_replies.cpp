// Arbitrary byte streams from the projector, through the code the tick runs on them:
// byte framing into lines, the reply grammar, the resolution decoding and the log
// texts of the main window. The first byte chooses whether "Debug" is ticked.

#include "link/serialprotocol.h"
#include "probe/windowform.h"
#include "ui/lumivox.h"

#include <QApplication>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kMaxWidth = 255 * 256 + 255; // two report bytes

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_replies: %s\n", what);
    std::abort();
}

Lumivox &window()
{
    static int argc = 1;
    static char name[] = "fuzz_replies";
    static char *argv[] = {name, nullptr};
    static QApplication *application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)application;
    static Lumivox *instance = new Lumivox;
    return *instance;
}

void checkReply(const QString &line)
{
    if (line.size() > serialprotocol::kMaxReplyLength)
        fail("reply line beyond its bound");
    if (line.contains(QLatin1Char(serialprotocol::kCarriageReturn)))
        fail("carriage return stored in a line");
    const serialprotocol::Reply reply = serialprotocol::classifyReply(line);
    const bool isReport = line.startsWith(QLatin1String("Res"));
    if ((reply.kind == serialprotocol::ReplyKind::Resolution
         || reply.kind == serialprotocol::ReplyKind::ShortResolution)
        != isReport)
        fail("resolution kind without \"Res\"");
    if (reply.kind != serialprotocol::ReplyKind::Resolution)
        return;
    const serialprotocol::Resolution &resolution = reply.resolution;
    if (resolution.width < 0 || resolution.width > kMaxWidth || resolution.height < 0
        || resolution.height > kMaxWidth)
        fail("resolution outside two bytes");
    if (resolution.refreshRate != serialprotocol::refreshRate(line.at(8).unicode() & 0xff))
        fail("refresh rate not from the code byte");
    const QString text = serialprotocol::formatResolution(resolution);
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 6 || parts.at(0).toInt() != resolution.width
        || parts.at(2).toInt() != resolution.height
        || parts.at(4).toInt() != resolution.refreshRate)
        fail("resolution text does not read back");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Lumivox &lumivox = window();
    const testsupport::WindowForm form(lumivox);
    form.textEdit->clear();
    form.debugCheckBox->setChecked(size > 0 && (data[0] & 1));

    QString line;
    for (std::size_t i = 0; i < size; ++i) {
        const serialprotocol::ByteResult result = serialprotocol::feedByte(line, char(data[i]));
        if (line.size() > serialprotocol::kMaxReplyLength)
            fail("reply buffer grew beyond its bound");
        if (result == serialprotocol::ByteResult::LineComplete) {
            checkReply(line);
            lumivox.handleReply(line);
            line.clear();
        }
    }
    if (form.textEdit->document()->blockCount() > int(size) * 2 + 1)
        fail("more log lines than replies");
    return 0;
}
