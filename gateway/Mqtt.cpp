#include "gateway/Mqtt.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "core/DeviceState.h"

namespace VelmorGateway {

namespace {

const char* StateText(int Code)
{
    // The texts velmorctl prints for the state codes.
    switch (Code) {
    case Core::StateStopped: return "Stopped";
    case Core::StateDone: return "Operation done";
    case Core::StateLimit: return "Limit reached";
    case Core::StateRotating: return "Rotating...";
    case Core::StatePositioning: return "Positioning...";
    case Core::StateEncoderPositioning: return "Encoder positioning...";
    case Core::StateHoming: return "Searching home...";
    default: return "Unknown state";
    }
}

int32_t Int32(const std::vector<uint16_t>& W, size_t At)
{
    return static_cast<int32_t>(static_cast<uint32_t>(W[At]) << 16 | W[At + 1]);
}

class MosquittoPublisher : public Publisher {
public:
    MosquittoPublisher(mosquitto* M, std::string Base) : FM(M), FBase(std::move(Base)) {}
    ~MosquittoPublisher() override
    {
        Publish(FBase + "/availability", "offline", true);
        mosquitto_disconnect(FM);
        mosquitto_loop_stop(FM, false);
        mosquitto_destroy(FM);
    }
    void Status(uint8_t Unit, const std::string& Json) override
    {
        Publish(FBase + "/" + std::to_string(Unit) + "/status", Json, false);
    }
    void Available(uint8_t Unit, bool Online) override
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        auto It = FKnown.find(Unit);
        if (It != FKnown.end() && It->second == Online)
            return;
        FKnown[Unit] = Online;
        Publish(FBase + "/" + std::to_string(Unit) + "/availability", Online ? "online" : "offline", true);
    }
    // Called on libmosquitto's thread at each (re)connection: the retained
    // states again, as the broker may have restarted without them.
    void Connected()
    {
        Publish(FBase + "/availability", "online", true);
        std::lock_guard<std::mutex> Lock(FMutex);
        for (const auto& [Unit, Online] : FKnown)
            Publish(FBase + "/" + std::to_string(Unit) + "/availability", Online ? "online" : "offline", true);
    }

private:
    void Publish(const std::string& Topic, const std::string& Payload, bool Retain)
    {
        mosquitto_publish(FM, nullptr, Topic.c_str(), static_cast<int>(Payload.size()), Payload.data(), 0, Retain);
    }
    mosquitto* FM;
    std::string FBase;
    std::mutex FMutex;
    std::map<uint8_t, bool> FKnown;
};

void OnConnect(mosquitto*, void* Self, int Rc)
{
    if (Rc == 0)
        static_cast<MosquittoPublisher*>(Self)->Connected();
}

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
                  StateText(State), State, Int32(W, 1), Int32(W, 5), Lim,
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
    auto P = std::make_unique<MosquittoPublisher>(M, Base);
    mosquitto_user_data_set(M, P.get());
    mosquitto_connect_callback_set(M, OnConnect);
    mosquitto_will_set(M, (Base + "/availability").c_str(), 7, "offline", 0, true);
    mosquitto_reconnect_delay_set(M, 1, 30, true);
    // Not yet reachable is not an error: the loop keeps trying.
    const int Rc = mosquitto_connect_async(M, Host.c_str(), Port, 30);
    if (Rc != MOSQ_ERR_SUCCESS && Rc != MOSQ_ERR_ERRNO && Rc != MOSQ_ERR_EAI)
        return Core::Status::Fail("MQTT " + Host + ": " + mosquitto_strerror(Rc));
    if (mosquitto_loop_start(M) != MOSQ_ERR_SUCCESS)
        return Core::Status::Fail("MQTT: cannot start libmosquitto's thread");
    return std::unique_ptr<Publisher>(std::move(P));
}

} // namespace VelmorGateway
