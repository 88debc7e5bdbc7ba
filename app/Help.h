// The help of the command-line programs: the usage, what the program does,
// the arguments and the options one a paragraph (its names, then what it
// does, indented far enough that help2man takes each for an option of the
// manual page), then the footer, every line within 79 columns.
#pragma once

namespace CLI {
class App;
}

namespace App {

// Makes `app` print its help in that form.
void UseHelpFormat(CLI::App& app);

}  // namespace App
