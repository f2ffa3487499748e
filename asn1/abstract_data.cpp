#include "asn1/abstract_data.hpp"

namespace ASN1
{

int lexicographic_compare_bytes(char const* first1, char const* last1, char const* first2, char const* last2)
{
    for (; first1 != last1 && first2 != last2; ++first1, ++first2) {
        int a = static_cast<unsigned char>(*first1);
        int b = static_cast<unsigned char>(*first2);
        if (a != b)
            return a - b;
    }
    if (first1 == last1)
        return first2 == last2 ? 0 : -1;
    return 1;
}

} // namespace ASN1
