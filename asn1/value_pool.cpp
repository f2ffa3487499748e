#include "asn1/value_pool.hpp"

#include <type_traits>

namespace ASN1
{
namespace detail
{

FreeList valueLists[valueClasses] = {};
// Values held by static objects (the monitoring service's data) are freed
// while exit destroys them, in any order.
static_assert(std::is_trivially_destructible_v<FreeList>, "the free lists must outlive every static object");

} // namespace detail
} // namespace ASN1
