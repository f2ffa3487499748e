// The ASN.1 runtime in one include: value classes, descriptors, visitors, coders.
// asn1/README.md describes how a module type is written against these classes.
#pragma once

#include "asn1/abstract_data.hpp"
#include "asn1/avn_decoder.hpp"
#include "asn1/avn_encoder.hpp"
#include "asn1/ber_decoder.hpp"
#include "asn1/ber_encoder.hpp"
#include "asn1/coder.hpp"
#include "asn1/constructed.hpp"
#include "asn1/data_length_counter.hpp"
#include "asn1/per_decoder.hpp"
#include "asn1/per_encoder.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"
#include "asn1/validity.hpp"
#include "asn1/visitor.hpp"
