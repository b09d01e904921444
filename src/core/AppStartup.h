#pragma once

class AppCore;
class QCoreApplication;
class QQmlApplicationEngine;
class QQmlEngine;
class QQmlNetworkAccessManagerFactory;

// The start-up steps shared by the program and the tests that load the real window.
namespace AppStartup {

// Identity, the three dynamic properties and the size of the scene graph's
// texture atlas (unless the environment sets it); must run before AppCore
// exists and before the first window shows.
void configureApplication(QCoreApplication &app);

// Import paths, the "appCore" context property, the network factory and the
// image providers.
void prepareEngine(QQmlApplicationEngine &engine, AppCore &core, QQmlNetworkAccessManagerFactory *factory);

// The image providers the documents use (the payment QR code); the engine
// owns them.
void addImageProviders(QQmlEngine &engine);

// Registers the application font, then loads Main of the qv4App module (by
// type name where Qt offers it, by URL on 6.4).
void loadMain(QQmlApplicationEngine &engine);

} // namespace AppStartup
