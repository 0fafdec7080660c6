#include "ferrow/model/tag.h"

namespace ferrow {

OTag::OTag() : m_pAnalog(std::make_unique<OAnalogData>()) { platform::com::VariantInit(&m_value); }

OTag::~OTag() { platform::com::VariantClear(&m_value); }

}  // namespace ferrow
