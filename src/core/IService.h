#pragma once

#include <QObject>

// Common shape of the display's services: built idle, started once by AppCore.
class IService : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~IService() override = default;

public slots:
    virtual void run() = 0;
    virtual void stop() = 0;
};
