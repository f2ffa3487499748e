#include "runtime/dpc.hpp"

#include "runtime/multiplexer.hpp"

Dpc::~Dpc()
{
    Deactivate();
    delete mHandler;
}

void Dpc::Bind(DpcHandler* handler)
{
    DpcHandler* old = mHandler;
    mHandler = handler;
    delete old;
}

void Dpc::Activate()
{
    if (!mActive)
        multiplexer.attach(this);
    mActive = true;
}

void Dpc::Deactivate()
{
    if (mActive)
        multiplexer.dettach(this);
    mActive = false;
}

void Dpc::Invoke()
{
    if (mHandler)
        mHandler->Invoke();
}
