#include "com/Guard.h"

#include <exception>
#include <new>

#include "com/ComError.h"

namespace com {

HRESULT currentExceptionResult() noexcept {
  try {
    throw;
  } catch (const ComError& e) {
    return FAILED(e.hr()) ? e.hr() : E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (HRESULT hr) {
    return FAILED(hr) ? hr : E_UNEXPECTED;
  } catch (const std::exception&) {
    return E_FAIL;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace com
