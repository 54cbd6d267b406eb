#include "com/Dispatch.h"

#include <algorithm>
#include <vector>

#include "com/Guard.h"

namespace com {

HRESULT invokeMethod(IDispatch* target, DISPID id, std::initializer_list<VARIANT> arguments,
                     VARIANT* result) {
  if (!target) return E_POINTER;
  return guard([&]() -> HRESULT {
    // DISPPARAMS carries the arguments last to first.
    std::vector<VARIANT> reversed(arguments.begin(), arguments.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO exception = {};
    UINT argumentError = 0;
    HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                &exception, &argumentError);
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
      if (FAILED(exception.scode)) hr = exception.scode;
      ::SysFreeString(exception.bstrSource);
      ::SysFreeString(exception.bstrDescription);
      ::SysFreeString(exception.bstrHelpFile);
    }
    return hr;
  });
}

}  // namespace com
