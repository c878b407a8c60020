#pragma once

#include <QObject>

#include "platform/Guard.h"

// Binds a Qt signal of a control to a handler of a window, called with the
// control as its sender, behind the guard: an exception escaping the
// handler reaches the standard exception display and never unwinds into Qt.
template <class SenderT, class Signal, class Owner>
QMetaObject::Connection Bind(SenderT* Sender, Signal Sig, Owner* Target, void (Owner::*Handler)(QObject*))
{
    return QObject::connect(Sender, Sig, Target, [Sender, Target, Handler]() {
        Guarded([&] { (Target->*Handler)(Sender); });
    });
}
