#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget *parent) : QLabel(parent) {}

void UrlClickLabel::mousePressEvent(QMouseEvent *)
{
    QDesktopServices::openUrl(QUrl(m_Url));
}
