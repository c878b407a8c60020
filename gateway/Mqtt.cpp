#include "gateway/Mqtt.h"

#include <mosquitto.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "core/DeviceState.h"

namespace VelmorGateway {

namespace {

int32_t Int32(const std::vector<uint16_t>& W, size_t At)
{
    return static_cast<int32_t>(static_cast<uint32_t>(W[At]) << 16 | W[At + 1]);
}

class MosquittoPublisher : public Publisher {
public:
    MosquittoPublisher(mosquitto* M, std::string Host, uint16_t Port, std::string Base)
        : FM(M), FHost(std::move(Host)), FPort(Port), FBase(std::move(Base))
    {
    }
    ~MosquittoPublisher() override
    {
        FStop = true;
        // The thread may be inside a connect to a broker that does not
        // answer: it gets two seconds, then is left behind with its
        // connection (the program is ending).
        for (int I = 0; I < 200 && !FDone; ++I)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!FDone) {
            FThread.detach();
            return;
        }
        FThread.join();
        if (FConnected) {
            Publish(FBase + "/availability", "offline", true);
            mosquitto_loop(FM, 100, 1);
            mosquitto_disconnect(FM);
        }
        mosquitto_destroy(FM);
    }
    void Start() { FThread = std::thread([this] { Keep(); }); }
    void Status(uint8_t Unit, const std::string& Json) override
    {
        if (FConnected)
            Publish(FBase + "/" + std::to_string(Unit) + "/status", Json, false);
    }
    void Available(uint8_t Unit, bool Online) override
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        auto It = FKnown.find(Unit);
        if (It != FKnown.end() && It->second == Online)
            return;
        FKnown[Unit] = Online;
        if (FConnected)
            Publish(FBase + "/" + std::to_string(Unit) + "/availability", Online ? "online" : "offline", true);
    }

private:
    // The connection's own thread: connects (again after a second when the
    // broker is away), publishes the retained states at each connection and
    // runs libmosquitto's network loop; each wait at most a second.
    void Keep()
    {
        Run();
        FDone = true;
    }
    void Run()
    {
        bool Said = false;
        while (!FStop) {
            if (!FConnected) {
                const int Rc = mosquitto_connect(FM, FHost.c_str(), FPort, 30);
                if (Rc != MOSQ_ERR_SUCCESS) {
                    if (!Said)
                        std::fprintf(stderr, "velmor-gateway: MQTT broker %s:%u: %s; trying again every second\n",
                                     FHost.c_str(), FPort, Rc == MOSQ_ERR_ERRNO ? std::strerror(errno)
                                                                                : mosquitto_strerror(Rc));
                    Said = true;
                    for (int I = 0; I < 10 && !FStop; ++I)
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                Said = false;
                FConnected = true;
                std::fprintf(stderr, "velmor-gateway: MQTT broker %s:%u connected\n", FHost.c_str(), FPort);
                Publish(FBase + "/availability", "online", true);
                std::lock_guard<std::mutex> Lock(FMutex);
                for (const auto& [Unit, Online] : FKnown)
                    Publish(FBase + "/" + std::to_string(Unit) + "/availability", Online ? "online" : "offline", true);
            }
            const int Rc = mosquitto_loop(FM, 100, 1);
            if (Rc != MOSQ_ERR_SUCCESS) {
                FConnected = false;
                std::fprintf(stderr, "velmor-gateway: MQTT broker %s:%u lost: %s\n", FHost.c_str(), FPort,
                             mosquitto_strerror(Rc));
            }
        }
    }
    void Publish(const std::string& Topic, const std::string& Payload, bool Retain)
    {
        mosquitto_publish(FM, nullptr, Topic.c_str(), static_cast<int>(Payload.size()), Payload.data(), 0, Retain);
    }
    mosquitto* FM;
    std::string FHost;
    uint16_t FPort;
    std::string FBase;
    std::atomic<bool> FStop{false}, FConnected{false}, FDone{false};
    std::thread FThread;
    std::mutex FMutex;
    std::map<uint8_t, bool> FKnown;
};

} // namespace

std::string StatusJson(const std::vector<uint16_t>& W)
{
    if (W.size() != 9)
        return {};
    const int State = static_cast<int16_t>(W[0]);
    const int Lim = W[7];
    char Text[512];
    std::snprintf(Text, sizeof Text,
                  "{\"state\":\"%s\",\"state_code\":%d,\"coordinate\":%d,\"speed\":%d,\"limit_word\":%d,"
                  "\"limits\":{\"backward\":%s,\"forward\":%s,\"home\":%s},\"home_coordinate\":%d,"
                  "\"supply_volts\":%.1f}",
                  Core::StateText(State), State, Int32(W, 1), Int32(W, 5), Lim,
                  Lim & Core::ActiveBackward ? "true" : "false", Lim & Core::ActiveForward ? "true" : "false",
                  Lim & Core::ActiveHome ? "true" : "false", Int32(W, 3), W[8] * 0.1);
    return Text;
}

Core::Result<std::unique_ptr<Publisher>> StartMqtt(const std::string& Host, uint16_t Port, const std::string& Line)
{
    mosquitto_lib_init();
    const std::string Base = "velmor/" + Line;
    const std::string Id = "velmor-gateway-" + Line + "-" + std::to_string(::getpid());
    mosquitto* M = mosquitto_new(Id.c_str(), true, nullptr);
    if (!M)
        return Core::Status::Fail("MQTT: cannot start libmosquitto");
    mosquitto_threaded_set(M, true);
    // Only QoS 0: a publication while the broker is away is dropped.
    mosquitto_will_set(M, (Base + "/availability").c_str(), 7, "offline", 0, true);
    auto P = std::make_unique<MosquittoPublisher>(M, Host, Port, Base);
    P->Start();
    return std::unique_ptr<Publisher>(std::move(P));
}

} // namespace VelmorGateway
