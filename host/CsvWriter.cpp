#include "CsvWriter.h"

#include "TextFileWriter.h"

#include <cmath>
#include <cstdio>

std::string CsvWriter::render(const Response& response)
{
    std::string csv = "frequency_hz";
    for (const ResponseCurve& curve : response.curves)
    {
        std::string column = curve.name;
        for (char& c : column)
            if (c == ' ' || c == ',')
                c = '_';
        csv += "," + column + "_db";
    }
    csv += "\n";
    for (std::size_t i = 0; i < response.frequencies.size(); ++i)
    {
        char cell[48];
        std::snprintf(cell, sizeof cell, "%.4f", response.frequencies[i]);
        csv += cell;
        for (const ResponseCurve& curve : response.curves)
        {
            const double db = i < curve.db.size() ? curve.db[i] : NAN;
            if (std::isinf(db))
                std::snprintf(cell, sizeof cell, ",%s", db < 0 ? "-inf" : "inf");
            else
                std::snprintf(cell, sizeof cell, ",%.6f", db);
            csv += cell;
        }
        csv += "\n";
    }
    return csv;
}

void CsvWriter::write(const std::string& path, const Response& response)
{
    TextFileWriter::write(path, render(response));
}
