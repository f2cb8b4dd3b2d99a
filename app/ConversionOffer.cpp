// ConversionOffer.cpp: the message box for files that would play silence.
#include "app/ConversionOffer.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>

#include "stream/SourceFormat.h"

namespace oggmix {

void OfferConversion(QWidget* Window, TOggData& Stream, const std::string& FileName,
                     std::function<void()> OnConverted) {
    if (Stream.GetState(true) == 0 || Stream.Renders()) return;
    const bool convertible = PlaysConverted(Stream.Rate(), Stream.Channels());
    const std::string name = std::filesystem::path(FileName).filename().string();
    const std::string text =
        name + ": would play silence: " + FormatProblem(Stream.Rate(), Stream.Channels()) +
        (convertible ? "; converting it to 44100 Hz stereo plays it."
                     : "; no conversion plays it.");
    auto* box = new QMessageBox(QMessageBox::Information, QCoreApplication::applicationName(),
                                QString::fromStdString(text), QMessageBox::NoButton, Window);
    box->setObjectName(QString::fromLatin1(kConversionBoxName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (convertible) {
        QPushButton* convert =
            box->addButton(QString::fromLatin1(kConvertCaption), QMessageBox::AcceptRole);
        // The stream outlives the box: both belong to the window, which deletes the box first.
        QObject::connect(convert, &QPushButton::clicked, box,
                         [&Stream, OnConverted = std::move(OnConverted)] {
                             Stream.SetConversion(true);
                             OnConverted();
                         });
    }
    box->addButton(QMessageBox::Close);
    box->open();
}

}  // namespace oggmix
