#include "runtime/deferred_delete.hpp"

#include <cassert>

DeferredDeletable::~DeferredDeletable()
{
    assert(!mDeletePending && "an object handed to the loop was deleted by someone else");
}
