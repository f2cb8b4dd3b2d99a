// ExceptionDisplay.cpp: the message box that shows an exception to the user.
#include "app/ExceptionDisplay.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace oggmix {

void ShowException(QWidget* Window, const std::string& Message) {
    QString text = QString::fromUtf8(Message);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                                QMessageBox::Ok, Window);
    box->setObjectName(QString::fromLatin1(kExceptionBoxName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // open() rather than exec(): the handler that failed has already ended, and the window
    // keeps its message loop (and its display) running behind the box.
    box->open();
}

}  // namespace oggmix
