#include "lv2/TurtleWriter.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace
{
const char* const kPrefixes = "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
                              "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
                              "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
                              "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
                              "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                              "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
                              "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                              "@prefix work:  <http://lv2plug.in/ns/ext/worker#> .\n";

// Turtle decimal literal: always with a point, so it reads as xsd:decimal
// rather than xsd:integer.
std::string decimal(float value)
{
    std::ostringstream s;
    s << std::setprecision(7) << value;
    std::string text = s.str();
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string unitTerm(ParameterUnit unit)
{
    switch (unit)
    {
    case ParameterUnit::hz: return "units:hz";
    case ParameterUnit::db: return "units:db";
    case ParameterUnit::ms: return "units:ms";
    case ParameterUnit::percent: return "units:pc";
    case ParameterUnit::dbPerOctave: return "<" + std::string(ProjectFacts::kNamespace) + "units#dbPerOctave>";
    case ParameterUnit::none: break;
    }
    return "";
}
} // namespace

std::string TurtleWriter::pluginFileName(const PluginDescription& plugin)
{
    return plugin.bundle.substr(0, plugin.bundle.rfind('.')) + ".ttl";
}

void TurtleWriter::writeManifest(const PluginDescription& plugin, std::ostream& out)
{
    out << kPrefixes << "\n<" << plugin.uri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << plugin.binary << "> ;\n"
        << "    rdfs:seeAlso <" << pluginFileName(plugin) << "> .\n";
}

void TurtleWriter::writePlugin(const PluginDescription& plugin, std::ostream& out)
{
    out << kPrefixes << "\n";
    const std::string slopeUnit = unitTerm(ParameterUnit::dbPerOctave);
    out << slopeUnit << "\n"
        << "    a units:Unit ;\n"
        << "    rdfs:label \"decibels per octave\" ;\n"
        << "    units:symbol \"dB/oct\" ;\n"
        << "    units:render \"%.0f dB/oct\" .\n\n";

    out << "<" << plugin.uri << ">\n"
        << "    a lv2:Plugin , lv2:LimiterPlugin , doap:Project ;\n"
        << "    doap:name " << quoted(plugin.name) << " ;\n"
        << "    doap:license <" << ProjectFacts::kLicense << "> ;\n"
        << "    doap:maintainer [ a foaf:Person ; foaf:name " << quoted(ProjectFacts::kMaintainer) << " ] ;\n"
        << "    doap:release [ doap:revision " << quoted(ProjectFacts::kVersion) << " ] ;\n"
        << "    lv2:minorVersion " << ProjectFacts::kMinorVersion << " ;\n"
        << "    lv2:microVersion " << ProjectFacts::kMicroVersion << " ;\n"
        << (plugin.hardRealTime ? "    lv2:optionalFeature lv2:hardRTCapable ;\n" : "")
        << (plugin.controlsOnWorker ? "    lv2:optionalFeature work:schedule ;\n    lv2:extensionData work:interface ;\n"
                                    : "")
        << "    lv2:port";
    for (std::uint32_t i = 0; i < plugin.controlCount(); ++i)
    {
        out << (i == 0 ? " [\n" : " , [\n");
        writeControlPort(plugin.controls[i], i, out);
        out << "    ]";
    }
    const char* const sides[] = {"Left", "Right"};
    for (int c = 0; c < 2; ++c)
    {
        out << " , [\n        a lv2:AudioPort , lv2:InputPort ;\n"
            << "        lv2:index " << plugin.audioInput(c) << " ;\n"
            << "        lv2:symbol \"in_" << (c == 0 ? "l" : "r") << "\" ;\n"
            << "        lv2:name \"In " << sides[c] << "\"\n    ]";
    }
    for (int c = 0; c < 2; ++c)
    {
        out << " , [\n        a lv2:AudioPort , lv2:OutputPort ;\n"
            << "        lv2:index " << plugin.audioOutput(c) << " ;\n"
            << "        lv2:symbol \"out_" << (c == 0 ? "l" : "r") << "\" ;\n"
            << "        lv2:name \"Out " << sides[c] << "\"\n    ]";
    }
    out << " , [\n        a lv2:ControlPort , lv2:OutputPort ;\n"
        << "        lv2:index " << plugin.latencyPort() << " ;\n"
        << "        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:designation lv2:latency ;\n"
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "        units:unit units:frame ;\n"
        << "        lv2:minimum 0 ;\n"
        << "        lv2:maximum 1000000\n    ] .\n";
}

void TurtleWriter::writeControlPort(const ControlPort& port, std::uint32_t index, std::ostream& out)
{
    out << "        a lv2:ControlPort , lv2:InputPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << quoted(port.symbol) << " ;\n"
        << "        lv2:name " << quoted(port.name) << " ;\n"
        << "        lv2:default " << decimal(port.defaultValue) << " ;\n"
        << "        lv2:minimum " << decimal(port.minimum) << " ;\n"
        << "        lv2:maximum " << decimal(port.maximum);
    if (port.unit != ParameterUnit::none)
        out << " ;\n        units:unit " << unitTerm(port.unit);
    switch (port.curve)
    {
    case ParameterCurve::toggle:
    case ParameterCurve::toggleFromHalf: out << " ;\n        lv2:portProperty lv2:toggled"; break;
    case ParameterCurve::logarithmic:
    case ParameterCurve::crossoverHz: out << " ;\n        lv2:portProperty pprop:logarithmic"; break;
    case ParameterCurve::slopeSteps:
        out << " ;\n        lv2:portProperty lv2:integer , lv2:enumeration";
        for (float db = port.minimum; db <= port.maximum; db += 12.0f)
            out << " ;\n        lv2:scalePoint [ rdfs:label \"" << std::lround(db) << " dB/oct\" ; rdf:value "
                << decimal(db) << " ]";
        break;
    default: break;
    }
    out << "\n";
}
