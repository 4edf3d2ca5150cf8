#pragma once

#include <QEvent>
#include <QObject>
#include <exception>
#include <string>

namespace sw {

// Records an exception that no other code handled on the main thread ("Exception"), or prints it
// when the engine does not exist.
void ReportUnhandledException(const std::string& message);

// The application object of both front ends: every exception escaping a main-thread event handler
// is reported and the program goes on.
template <typename Base>
class TEngineApplication : public Base {
public:
    using Base::Base;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return Base::notify(receiver, event);
        } catch (const std::exception& e) {
            ReportUnhandledException(e.what());
        } catch (...) {
            ReportUnhandledException("Unknown exception");
        }
        return false;
    }
};

} // namespace sw
