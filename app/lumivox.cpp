#include "lumivox.h"
#include "networkport.h"
#include "portdevice.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {
constexpr int kTickInterval = 100; // ms between two ticks of OnTimer()
constexpr int kStartHeight = 200; // window height asked for at the first tick
constexpr int kInfoHideExtra = 10; // shrink beyond the panel's own height when hiding it
// A room PC left running for weeks must not pile up millions of log lines.
constexpr int kMaxLogLines = 10000;
// Lines dropped at once when the log reaches its cap: dropping the oldest line for
// each new one would lay the whole view out again at every line.
constexpr int kLogTrimBatch = 500;
} // namespace

Lumivox::Lumivox(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , replug([this](const QString &name, QString *reason) { return openPort(name, reason); })
{
    ui.setupUi(this);
    // The form starts with the no-contact icon: the same image, not decoded again.
    noContactIcon = ui.connectionStatus->icon();
    // Nobody undoes a log line, and the history would grow without bound.
    ui.textEdit->document()->setUndoRedoEnabled(false);
    connect(ui.actionAbout, &QAction::triggered, this, &Lumivox::OnAbout);

    m_port.reset();
    noContactCount = kNoContact;
    lampOn = false;
    pendingHeight = 0;

    QString reason;
    if (!openPort(QStringLiteral("COM1"), &reason))
        logOpenFailure(tr("Failed to initialize Com port 1!\r"), reason);

    connect(&timer, &QTimer::timeout, this, &Lumivox::OnTimer);
    timer.setInterval(kTickInterval);
    timer.start();

    pendingHeight = kStartHeight;
    ui.infoFrame->setVisible(false);
}

Lumivox::~Lumivox()
{
    closePort();
}

void Lumivox::log(const QString &text)
{
    ui.textEdit->insertPlainText(text);
    QTextDocument *document = ui.textEdit->document();
    if (document->blockCount() <= kMaxLogLines)
        return;
    // Past the cap, the oldest lines go in one edit, room for a batch of new ones.
    const int excess = document->blockCount() - (kMaxLogLines - kLogTrimBatch);
    QTextCursor oldest(document);
    oldest.setPosition(document->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
}

void Lumivox::closeQuietly()
{
    quietClose = true;
    close();
}

void Lumivox::endProgram()
{
    closeQuietly();
    QCoreApplication::exit(0);
}

void Lumivox::OnAbout()
{
    QMessageBox::information(this, tr("About"),
                             tr("Lumivox\r\nWritten by the Lumivox developers\r\n"
                                "https://lumivox.example"));
}

void Lumivox::on_clearLog_clicked()
{
    ui.textEdit->clear();
}

void Lumivox::on_info_clicked()
{
    if (ui.infoFrame->isVisible()) {
        pendingHeight = height() - ui.infoFrame->height() - kInfoHideExtra;
        ui.infoFrame->hide();
    } else {
        ui.infoFrame->show();
    }
}

void Lumivox::keyPressEvent(QKeyEvent *event)
{
    QAbstractButton *button = nullptr;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        button = ui.ok;
        break;
    case Qt::Key_Left:
        button = ui.left;
        break;
    case Qt::Key_Up:
        button = ui.up;
        break;
    case Qt::Key_Right:
        button = ui.right;
        break;
    case Qt::Key_Down:
        button = ui.down;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    // Shown pressed at once, released and clicked 100 ms later, like a mouse click.
    button->animateClick();
}
