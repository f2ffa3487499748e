#include "asn1/value_pool.hpp"

namespace ASN1
{
namespace detail
{

FreeList valueLists[valueClasses] = {};

} // namespace detail
} // namespace ASN1
