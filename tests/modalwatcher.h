#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>

// Answers the window's modal boxes as an operator would: records each message
// box ("title|text|icon|buttons") and presses OK; answers a question through
// `onQuestion` (No by default); hands a file dialog to `onFileDialog`.
class ModalWatcher : public QObject {
public:
    QStringList boxes;
    std::function<void(QFileDialog *)> onFileDialog;
    std::function<QMessageBox::StandardButton(QMessageBox *)> onQuestion;
    // Sees each message box while it is up, before OK is pressed.
    std::function<void(QMessageBox *)> onMessage;

    ModalWatcher()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
        m_timer.start();
    }

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (box->standardButtons() & QMessageBox::Yes) {
                const auto answer = onQuestion ? onQuestion(box) : QMessageBox::No;
                if (answer != QMessageBox::NoButton)  // NoButton: not yet
                    box->button(answer)->click();
                return;
            }
            if (onMessage)
                onMessage(box);
            const QList<QAbstractButton *> buttons = box->buttons();
            boxes.append(box->windowTitle() + QLatin1Char('|') + box->text() + QLatin1Char('|')
                         + QString::number(int(box->icon())) + QLatin1Char('|')
                         + QString::number(buttons.size()));
            box->button(QMessageBox::Ok)->click();
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            if (onFileDialog)
                onFileDialog(dialog);
            else
                dialog->reject();
        }
    }

    QTimer m_timer;
};
