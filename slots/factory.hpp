#pragma once
// A factory builds the slots of one kind from the controller's create
// parameters and keeps the list of the slots it built. Every factory links
// itself at the head of one global chain when it is constructed, so the
// factory made last is asked first; the slot manager offers each create to the
// chain in that order and takes the first slot built, gathers the resource
// report from every factory and passes trunk status to every factory.
#include <list>

#include "messages/lgcp/LGCP.hpp"

class Slot;

class SlotFactory
{
public:
    SlotFactory();
    SlotFactory(const SlotFactory&) = delete;
    SlotFactory& operator=(const SlotFactory&) = delete;
    // Leaves the chain, so that nothing ever walks into a destroyed factory.
    virtual ~SlotFactory();

    virtual char const* GetName() const = 0;
    // A slot for these parameters, or null when they are not this factory's
    // kind or it has no resource left.
    virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
    // Adds this factory's resources to the report.
    virtual void Query(LGCP::Resources& resources) = 0;
    virtual void SelfSignal(LGCP::Signal const&) {}

    Slot* NewSlot(LGCP::CreateParams const& params);
    void Remove(Slot* slot);

    SlotFactory* GetNext() const { return mNext; }
    std::list<Slot*> const& GetSlots() const { return mSlots; }

private:
    std::list<Slot*> mSlots;
    SlotFactory* mNext;
};

// The head of the chain; null before the first factory is constructed.
extern SlotFactory* firstFactory;
