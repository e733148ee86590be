// Systems without termination signals: nothing to watch, the object never fires.

#include "platform/terminationsignals.h"

struct TerminationSignals::Private
{
};

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{ }

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::setHangupReloads(bool) { }
