// lv2-latency-probe URI RATE [SYMBOL VALUE]...: loads a plug-in the way LV2
// hosts do (lilv, from LV2_PATH), sets the named controls, runs one block of
// silence and prints the latency port's value. scripts/check-lv2.sh compares
// it with the impulse delay measured through lv2apply and ffmpeg.
#include <lilv/lilv.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3 || argc % 2 == 0)
    {
        std::fprintf(stderr, "usage: lv2-latency-probe URI RATE [SYMBOL VALUE]...\n");
        return 2;
    }
    std::map<std::string, float> settings;
    for (int i = 3; i + 1 < argc; i += 2)
        settings[argv[i]] = std::strtof(argv[i + 1], nullptr);

    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, argv[1]);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    LilvInstance* instance = plugin ? lilv_plugin_instantiate(plugin, std::atof(argv[2]), nullptr) : nullptr;
    if (instance == nullptr)
    {
        std::fprintf(stderr, "lv2-latency-probe: cannot instantiate %s\n", argv[1]);
        return 1;
    }

    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> minimum(ports), maximum(ports), values(ports);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), values.data());
    LilvNode* audioClass = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
    constexpr uint32_t kFrames = 256;
    std::vector<std::vector<float>> audio(ports, std::vector<float>(kFrames, 0.0f));
    for (uint32_t p = 0; p < ports; ++p)
    {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
        if (settings.count(symbol) != 0)
            values[p] = settings[symbol];
        const bool isAudio = lilv_port_is_a(plugin, port, audioClass);
        lilv_instance_connect_port(instance, p, isAudio ? audio[p].data() : &values[p]);
    }
    lilv_instance_activate(instance);
    lilv_instance_run(instance, kFrames);
    const uint32_t latencyPort = lilv_plugin_has_latency(plugin) ? lilv_plugin_get_latency_port_index(plugin) : ports;
    const int status = latencyPort < ports ? 0 : 1;
    if (status == 0)
        std::printf("%.0f\n", static_cast<double>(values[latencyPort]));
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    lilv_node_free(audioClass);
    lilv_node_free(uri);
    lilv_world_free(world);
    return status;
}
