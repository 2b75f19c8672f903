#include "ui/smalldialogs.h"

#include "core/version.h"
#include "ui/messageview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

ExpandedMessageWindow::ExpandedMessageWindow(MessageLog &log, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PUListBox"));
    setWindowTitle(QStringLiteral("Message Window - Expanded"));
    resize(900, 500);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_view = new MessageView(log, this);
    m_view->setObjectName(QStringLiteral("RichEdit1"));
    layout->addWidget(m_view);
}

void ExpandedMessageWindow::showEvent(QShowEvent *event)
{
    m_view->redraw();
    QDialog::showEvent(event);
}

AboutBox::AboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About"));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("<b>Tolva Electronics Server</b>"), this);
    title->setAlignment(Qt::AlignCenter);
    auto *text = new QLabel(QStringLiteral("Monitoring unit server and data relay\n"
                                           "Version %1\n\n"
                                           "Questions, faults, or new download files for your units:\n"
                                           "please call your Tolva Electronics dealer,\n"
                                           "and have this version number at hand.")
                                .arg(QLatin1String(kProgramVersion)),
                            this);
    text->setObjectName(QStringLiteral("Contact"));
    text->setAlignment(Qt::AlignCenter);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(buttons);
}
