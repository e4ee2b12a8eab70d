#pragma once

#include <QLabel>
#include <QString>

// An image label that opens its link in the user's browser when clicked.
class UrlClickLabel : public QLabel
{
public:
    explicit UrlClickLabel(QWidget *parent = nullptr);

    void setUrl(const QString &url) { m_Url = url; }
    QString url() const { return m_Url; }

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_Url;
};
