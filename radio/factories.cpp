#include "radio/factories.hpp"

RtpLEMZFactory& RtpLEMZFactory::instance()
{
    static RtpLEMZFactory factory;
    return factory;
}

RtpED137Factory& RtpED137Factory::instance()
{
    static RtpED137Factory factory;
    return factory;
}
