#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace testsupport {

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer)
    : BoxAnswerer(Handler([answer](QMessageBox *) { return answer; }))
{ }

BoxAnswerer::BoxAnswerer(Handler handler)
    : handler(std::move(handler))
{
    qApp->installEventFilter(this);
}

BoxAnswerer::~BoxAnswerer()
{
    qApp->removeEventFilter(this);
}

QStringList BoxAnswerer::boxes() const
{
    QStringList result;
    for (qsizetype n = 0; n < shownTitles.size(); ++n)
        result.append(shownTitles.at(n) + QLatin1Char('|') + shownTexts.at(n));
    return result;
}

bool BoxAnswerer::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (box && event->type() == QEvent::Show) {
        shownTitles.append(box->windowTitle());
        shownTexts.append(box->text());
        // Answered once the box runs its own loop: exec() has not started yet.
        QTimer::singleShot(0, box, [box, this] {
            const QMessageBox::StandardButton answer = handler ? handler(box) : QMessageBox::Ok;
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->reject();
        });
    }
    return false;
}

} // namespace testsupport
