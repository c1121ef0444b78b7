// A kernel test fixture.
#pragma once
