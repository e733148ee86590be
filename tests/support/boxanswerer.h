#ifndef BOXANSWERER_H
#define BOXANSWERER_H

#include <QMessageBox>
#include <QObject>
#include <QStringList>

#include <functional>

namespace testsupport {

// Answers every message box from the box's own event loop, as a user would, and records
// it. A modal box left unanswered would hang the test. The handler runs while the box is
// open and says which button to press; a button the box lacks rejects it instead.
class BoxAnswerer : public QObject
{
public:
    using Handler = std::function<QMessageBox::StandardButton(QMessageBox *)>;

    // Presses `answer` on every box. QMessageBox::NoButton rejects every box at once.
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
    explicit BoxAnswerer(Handler handler);
    ~BoxAnswerer() override;

    int count() const { return shownTitles.size(); }
    const QStringList &titles() const { return shownTitles; }
    const QStringList &texts() const { return shownTexts; }
    // "title|text" of each box, in order.
    QStringList boxes() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler handler;
    QStringList shownTitles;
    QStringList shownTexts;
};

} // namespace testsupport

#endif // BOXANSWERER_H
